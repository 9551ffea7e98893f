#!/usr/bin/env bash
# Puts faults into the sources one at a time, rebuilds, runs the tests and says
# whether they caught each fault. The sources are restored after each fault,
# also when the script is interrupted. Not part of the tests: every fault
# costs a rebuild and a test run.
#
#   bash tools/faults/fault_injection.sh               # every fault of tests/faults/injected/
#   bash tools/faults/fault_injection.sh busy handles  # the faults whose file name contains busy or handles
#   bash tools/faults/fault_injection.sh --generate SEED COUNT          # COUNT mechanical faults picked by SEED
#   bash tools/faults/fault_injection.sh --generate SEED COUNT --list   # only name them; no build, no test
#
# A fault of tests/faults/injected/ is a patch (git diff) led by three lines
# that this script reads:
#   Fault: what is wrong, as a user or a reader of the code would say it
#   Part:  which part of the product it lies in
#   Tests: the ctest regex of the tests that must fail because of it
# Caught: a named test failed. Missed: all passed. Stale: the patch no longer
# applies (counted as neither). Broken: the fault does not build.
# The named tests must pass without any fault first; each run's output stays
# in <build>/fault-injection/.
#
# --generate takes its faults from tools/faults/fault_generator.py (the operators and
# what is not a site are described there): the same seed gives the same faults
# on the same sources. Each runs first the tests that tests/faults/test_map.txt
# maps its file to, and when they all pass, the rest of the suite. A fault
# listed in tests/faults/equivalent.txt (its id and why no test can see it) is
# not run. QV_FAULT_WHOLE_SUITE=0 counts a fault its mapped tests pass as
# missed without running the rest (a score that can only be lower);
# QV_FAULT_FOLDERS=release,ui draws the faults from those folders alone. The diff
# of every missed fault follows the results. Fuzz targets
# fuzz QV_FUZZ_SECONDS (10 unless set) after replaying their corpus.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../common.sh"

faults_dir=$repo_dir/tests/faults/injected
log_dir=$build_dir/fault-injection
cd "$repo_dir"

generate_seed=""
if [ "${1:-}" = "--generate" ]; then
  [[ ${2:-} =~ ^[0-9]+$ && ${3:-} =~ ^[0-9]+$ ]] || { echo "usage: $0 --generate SEED COUNT [--list]"; exit 2; }
  generate_seed=$2 generate_count=$3
  if [ "${4:-}" = "--list" ]; then
    exec python3 "$repo_dir/tools/faults/fault_generator.py" list "$generate_seed" "$generate_count"
  fi
  [ $# -eq 3 ] || { echo "usage: $0 --generate SEED COUNT [--list]"; exit 2; }
  set --
fi

if [ -n "$(git status --porcelain --untracked-files=no)" ]; then
  echo "The work tree has changes; commit or stash them first: each fault is taken out again with git."
  exit 2
fi

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

selected=()
if [ -n "$generate_seed" ]; then
  export QV_FUZZ_SECONDS=${QV_FUZZ_SECONDS:-10}
  faults_dir=$log_dir/seed-$generate_seed
  written=$(python3 "$repo_dir/tools/faults/fault_generator.py" write "$generate_seed" "$generate_count" "$faults_dir")
  mapfile -t selected <<<"$written"
  log_dir=$faults_dir
else
  for patch in "$faults_dir"/*.patch; do
    name=$(basename "$patch" .patch)
    if [ $# -eq 0 ]; then selected+=("$patch"); continue; fi
    for wanted in "$@"; do
      if [[ $name == *"$wanted"* ]]; then selected+=("$patch"); break; fi
    done
  done
fi
[ ${#selected[@]} -gt 0 ] || { echo "no fault in $faults_dir matches: $*"; exit 2; }

# ctest's default time limit for tests that set none; a fault that hangs one
# counts as caught once the limit ends it. The names of the tests that failed
# go to $failed_tests.
failed_tests=""
run_tests() {
  local output
  output=$(mktemp)
  local status=0
  (cd "$build_dir" && ctest --output-on-failure --no-tests=error --timeout 600 "$@") >"$output" 2>&1 || status=$?
  failed_tests=$(sed -n '/The following tests FAILED:/,$s/^[[:space:]]*[0-9]* - \([^ ]*\) .*/\1/p' "$output" | tr '\n' ' ')
  cat "$output" >>"$log"
  rm -f "$output"
  return $status
}

# regex_names REGEX: the test names "^a$" or "^(a|b)$" stands for, one a line,
# or nothing for another regex.
regex_names() {
  if [[ $1 =~ ^\^\((.*)\)\$$ ]]; then
    tr '|' '\n' <<<"${BASH_REMATCH[1]}"
  elif [[ $1 =~ ^\^([A-Za-z0-9_]+)\$$ ]]; then
    echo "${BASH_REMATCH[1]}"
  fi
}
# mapped_names REGEX: those names for a generated fault, nothing for a
# hand-written fault, whose regex runs whole.
mapped_names() {
  if [ -n "$generate_seed" ]; then regex_names "$1"; fi
}

# A generated fault's tests are named in the map's order, cheapest first: they
# run one at a time and stop at the first that fails. A hand-written fault's
# regex runs whole.

run_mapped_tests() {
  local names name
  mapfile -t names < <(mapped_names "$1")
  if [ ${#names[@]} -eq 0 ]; then
    run_tests -R "$1"
    return
  fi
  for name in "${names[@]}"; do
    run_tests -R "^$name\$" || return 1
  done
}

# Inputs a fuzz target kept while a fault was in belong to that fault, not to the corpus.
corpus_before=""
untracked_corpus() { git ls-files --others --exclude-standard tests/fuzz/corpus; }
drop_new_corpus_inputs() {
  comm -13 <(echo "$corpus_before") <(untracked_corpus) | while read -r input; do rm -f -- "$input"; done
}
corpus_before=$(untracked_corpus)

# One regex for the baseline: the names every fault's regex stands for are
# gathered once each (ctest's regex takes only so many parentheses); another
# regex is taken as it stands.
regexes=()
declare -A named=()
for patch in "${selected[@]}"; do
  [ -n "$(header Equivalent "$patch")" ] && continue
  tests=$(header Tests "$patch")
  mapfile -t names < <(regex_names "$tests")
  [ ${#names[@]} -eq 0 ] && regexes+=("($tests)")
  for name in "${names[@]}"; do named[$name]=1; done
done
[ ${#named[@]} -gt 0 ] && regexes+=("^($(IFS='|'; echo "${!named[*]}"))\$")
if [ ${#regexes[@]} -gt 0 ]; then
  union=$(IFS='|'; echo "${regexes[*]}")
  say "the named tests without any fault"
  log=$log_dir/baseline.log
  : >"$log"
  if ! run_tests -R "$union"; then
    echo "They fail already ($failed_tests); see $log"
    exit 1
  fi
fi

# One fault: sets outcome and detail.
try_fault() {
  local patch=$1 tests
  tests=$(header Tests "$patch")
  detail=""
  if [ -n "$(header Equivalent "$patch")" ]; then
    outcome=equivalent detail=$(header Equivalent "$patch")
    return
  fi
  if ! git apply --check "$patch" 2>/dev/null; then
    outcome=stale
    return
  fi
  applied=$patch
  git apply "$patch"
  if ! cmake --build "$build_dir" >"$log" 2>&1; then
    outcome=broken
  elif ! run_mapped_tests "$tests"; then
    outcome=caught detail="by $failed_tests"
    [[ " $failed_tests " == *" native_build "* ]] && outcome=broken detail="the host build fails"
  elif [ -z "$generate_seed" ]; then
    outcome=missed
  elif [ "${QV_FAULT_WHOLE_SUITE:-1}" = 0 ]; then
    outcome=missed detail="its mapped tests passed (the rest of the suite not run)"
  elif run_tests -E "$tests"; then
    outcome=missed detail="the whole suite passed too"
  else
    # Only a test that passes without the fault has caught it.
    local suspects=$failed_tests
    restore
    cmake --build "$build_dir" >>"$log" 2>&1
    if run_tests -R "^($(echo "$suspects" | xargs | tr ' ' '|'))\$"; then
      outcome=caught detail="by the whole suite: $suspects"
    else
      outcome=missed detail="only by tests that fail without it too: $suspects"
    fi
  fi
  restore
  drop_new_corpus_inputs
}

caught=0 missed=0 stale=0 broken=0 equivalent=0
results=() missed_patches=()
for patch in "${selected[@]}"; do
  name=$(basename "$patch" .patch)
  log=$log_dir/$name.log
  started=$SECONDS
  if [ -n "$(git status --porcelain --untracked-files=no)" ]; then
    echo "The work tree changed during the round (not by this script); stopping before $name."
    exit 2
  fi
  try_fault "$patch"
  case $outcome in
    caught) caught=$((caught + 1)) ;;
    missed) missed=$((missed + 1)); missed_patches+=("$patch") ;;
    stale) stale=$((stale + 1)) ;;
    broken) broken=$((broken + 1)) ;;
    equivalent) equivalent=$((equivalent + 1)) ;;
  esac
  if [ -n "$generate_seed" ]; then
    results+=("$(printf '%-10s %4ss  %s\n%18s%s%s' "$outcome" $((SECONDS - started)) "$(header Id "$patch")" "" \
      "$(header Fault "$patch")" "${detail:+; $detail}")")
  else
    results+=("$(printf '%-7s %4ss  %-40s %-24s %s' "$outcome" $((SECONDS - started)) "$name" \
      "$(header Part "$patch")" "$(header Tests "$patch")")")
  fi
  echo "${results[-1]}"
done

say "restoring the build of the sources without faults"
cmake --build "$build_dir" >/dev/null
echo
printf '%s\n' "${results[@]}"
if [ -n "$generate_seed" ] && [ ${#missed_patches[@]} -gt 0 ]; then
  echo
  echo "The missed faults:"
  for patch in "${missed_patches[@]}"; do
    echo
    echo "$(header Id "$patch")"
    sed -n '/^diff --git/,$p' "$patch"
  done
fi
echo
total=$((caught + missed))
score="caught $caught of $total faults ($((100 * caught / (total > 0 ? total : 1))) %)"
if [ -n "$generate_seed" ]; then
  echo "$score, seed $generate_seed, $generate_count faults: $equivalent equivalent," \
    "$broken that do not build; logs in $log_dir"
  [ "$missed" -eq 0 ]
else
  echo "$score, $stale stale, $broken that do not build; logs in $log_dir"
  [ "$missed" -eq 0 ] && [ "$broken" -eq 0 ]
fi
