#!/usr/bin/env bash
# Measures the installer against the best a user could get on this machine:
# builds the benchmark programs, starts the local HTTPS test server and runs
# bench/run_bench.py, which prints one table and writes it to
# <build>/bench/results.md and results.json. Not part of the tests.
# Extra arguments go to run_bench.py (e.g. --runs 7, --only download,digest).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../tools/common.sh"

required_packages+=(curl coreutils time)
bench_targets=(QuorvaneSetup QuorvaneStandinProduct trust-test-ca
               bench-download bench-digest bench-window bench-window-setup bench-floor bench-installer
               QuorvaneSetupMarked)

finish() {
  bash "$repo_dir/tools/testserver/stop.sh" "$build_dir" || true
  stop_background
}

ensure_packages
if [ ! -f "$build_dir/build.ninja" ]; then
  cmake -S "$repo_dir" -B "$build_dir" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$repo_dir/cmake/mingw-w64-x86_64.cmake" -DCMAKE_BUILD_TYPE=MinSizeRel >/dev/null
fi
cmake --build "$build_dir" --target "${bench_targets[@]}"
trap finish EXIT
ensure_display
ensure_wine_prefix
say "starting the local HTTPS test server"
QV_TEST_SERVER_PARENT=$$ bash "$repo_dir/tools/testserver/start.sh" "$build_dir" >/dev/null
say "measuring (a few minutes; the machine should be otherwise idle)"
python3 "$repo_dir/bench/run_bench.py" --repo "$repo_dir" --build "$build_dir" \
  --command "bash bench/bench.sh${*:+ $*}" "$@"
