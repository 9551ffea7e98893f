#!/usr/bin/env bash
# Puts each fault of tests/faults/injected/ into the sources in turn, rebuilds,
# runs the tests that the fault names and says whether they caught it. The
# sources are restored after each fault, also when the script is interrupted.
# Not part of the tests: every fault costs a rebuild and a test run.
#
#   bash tools/fault_injection.sh               # every fault
#   bash tools/fault_injection.sh busy handles  # the faults whose file name contains busy or handles
#
# A fault is a patch (git diff) led by three lines that this script reads:
#   Fault: what is wrong, as a user or a reader of the code would say it
#   Part:  which part of the product it lies in
#   Tests: the ctest regex of the tests that must fail because of it
# Caught: a named test failed. Missed: all passed. Stale: the patch no longer
# applies (counted as neither). Broken: the fault does not build.
# The named tests must pass without any fault first; each run's output stays
# in <build>/fault-injection/.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

faults_dir=$repo_dir/tests/faults/injected
log_dir=$build_dir/fault-injection
cd "$repo_dir"

if [ -n "$(git status --porcelain --untracked-files=no)" ]; then
  echo "The work tree has changes; commit or stash them first: each fault is taken out again with git."
  exit 2
fi

selected=()
for patch in "$faults_dir"/*.patch; do
  name=$(basename "$patch" .patch)
  if [ $# -eq 0 ]; then selected+=("$patch"); continue; fi
  for wanted in "$@"; do
    if [[ $name == *"$wanted"* ]]; then selected+=("$patch"); break; fi
  done
done
[ ${#selected[@]} -gt 0 ] || { echo "no fault in $faults_dir matches: $*"; exit 2; }

header() { sed -n "s/^$1: *//p;/^diff --git/q" "$2" | head -1; }

applied=""
restore() {
  if [ -n "$applied" ]; then
    git apply -R "$applied" || git checkout -- $(git diff --name-only)
    applied=""
  fi
}
trap 'restore; stop_background' EXIT
trap 'exit 130' INT TERM

ensure_packages
build_project >/dev/null
ensure_display 2560x1600
ensure_wine_prefix
mkdir -p "$log_dir"

# ctest's default time limit for tests that set none; a fault that hangs one
# counts as caught once the limit ends it.
run_tests() { (cd "$build_dir" && ctest --output-on-failure --timeout 600 -R "$1") >>"$2" 2>&1; }

regexes=()
for patch in "${selected[@]}"; do regexes+=("($(header Tests "$patch"))"); done
union=$(IFS='|'; echo "${regexes[*]}")
say "the named tests without any fault"
: >"$log_dir/baseline.log"
if ! run_tests "$union" "$log_dir/baseline.log"; then
  echo "They fail already; see $log_dir/baseline.log"
  exit 1
fi

caught=0 missed=0 stale=0 broken=0
results=()
for patch in "${selected[@]}"; do
  name=$(basename "$patch" .patch)
  tests=$(header Tests "$patch")
  started=$SECONDS
  if [ -n "$(git status --porcelain --untracked-files=no)" ]; then
    echo "The work tree changed during the round (not by this script); stopping before $name."
    exit 2
  fi
  if ! git apply --check "$patch" 2>/dev/null; then
    outcome=stale; stale=$((stale + 1))
  else
    applied=$patch
    git apply "$patch"
    if ! cmake --build "$build_dir" >"$log_dir/$name.log" 2>&1; then
      outcome=broken; broken=$((broken + 1))
    elif run_tests "$tests" "$log_dir/$name.log"; then
      outcome=missed; missed=$((missed + 1))
    else
      outcome=caught; caught=$((caught + 1))
    fi
    restore
  fi
  results+=("$(printf '%-7s %4ss  %-40s %-24s %s' "$outcome" $((SECONDS - started)) "$name" \
    "$(header Part "$patch")" "$tests")")
  echo "${results[-1]}"
done

say "restoring the build of the sources without faults"
cmake --build "$build_dir" >/dev/null
echo
printf '%s\n' "${results[@]}"
echo
echo "caught $caught of $((caught + missed)) faults ($((100 * caught / (caught + missed > 0 ? caught + missed : 1))) %)," \
  "$stale stale, $broken that do not build; logs in $log_dir"
[ "$missed" -eq 0 ] && [ "$broken" -eq 0 ]
