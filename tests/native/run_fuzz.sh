#!/usr/bin/env bash
# Runs one fuzz target of the host build: every kept input under
# tests/fuzz/corpus/<target> first, then new inputs for QV_FUZZ_SECONDS seconds
# (60 unless set). A crash, a leak, a broken property or an input that takes
# over 10 s fails the test, and libFuzzer keeps that input beside the seeds,
# where every later run tries it first. New inputs that only widen coverage
# stay in the build folder.
set -euo pipefail
binary_dir=$1
target=$2
seconds=${QV_FUZZ_SECONDS:-60}
repo_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
seeds=$repo_dir/tests/fuzz/corpus/$target
work=$binary_dir/fuzz-corpus/$target
mkdir -p "$work"
exec "$binary_dir/fuzz_$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
  -print_final_stats=1 -artifact_prefix="$seeds/" "$work" "$seeds"
