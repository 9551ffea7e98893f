#!/usr/bin/env bash
# tools/faults/fault_injection.sh --generate picks the same faults for the same seed
# and others for another seed, and each fault it picks applies to the sources.
# No build and no test run: only the list and the patches.
#   generator_seed_test.sh BUILD_DIR
set -euo pipefail
build_dir=$1
repo_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
pick() { bash "$repo_dir/tools/faults/fault_injection.sh" --generate "$1" 8 --list; }

first=$(pick 25) second=$(pick 25) other=$(pick 26)
[ "$(wc -l <<<"$first")" -eq 8 ] || { echo "seed 25 gave not 8 faults:"; echo "$first"; exit 1; }
if [ "$first" != "$second" ]; then
  echo "seed 25 gave two different samples:"
  diff <(echo "$first") <(echo "$second") || true
  exit 1
fi
[ "$first" != "$other" ] || { echo "seeds 25 and 26 gave the same sample:"; echo "$first"; exit 1; }

patches=$build_dir/fault-generator-check
python3 "$repo_dir/tools/faults/fault_generator.py" write 25 8 "$patches" >/dev/null
for patch in "$patches"/*.patch; do
  git -C "$repo_dir" apply --check "$patch" || { echo "$(basename "$patch") does not apply:"; cat "$patch"; exit 1; }
done
echo "seed 25: the same 8 faults twice, each applies; seed 26: another sample"
