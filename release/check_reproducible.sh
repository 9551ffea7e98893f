#!/usr/bin/env bash
# Builds the release QuorvaneSetup.exe twice, each a clean build from its own
# copy of the sources in a folder of a different name and depth, prints both
# SHA-256 digests, and fails unless the two files are the same byte for byte.
#   bash release/check_reproducible.sh [WORK_FOLDER]     (default <build>/reproducible)
# The sources are the files git knows here, committed or not; nothing of an
# existing build folder is used.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../tools/common.sh"
work=${1:-$build_dir/reproducible}

clean_build() {  # folder
  local folder=$1
  rm -rf "$folder"
  mkdir -p "$folder/source"
  git -C "$repo_dir" ls-files -z --cached --others --exclude-standard |
    tar -C "$repo_dir" --null --files-from=- --ignore-failed-read -cf - 2>/dev/null | tar -C "$folder/source" -xf -
  cmake -S "$folder/source" -B "$folder/build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$folder/source/cmake/mingw-w64-x86_64.cmake" -DCMAKE_BUILD_TYPE=MinSizeRel >/dev/null
  cmake --build "$folder/build" --target QuorvaneSetup >/dev/null
}

started=$(date +%s)
first=$work/a
second=$work/second-build/deeper
clean_build "$first"
clean_build "$second"
sha256sum "$first/build/ui/QuorvaneSetup.exe" "$second/build/ui/QuorvaneSetup.exe"
echo "two clean builds in $(( $(date +%s) - started )) s"
if ! cmp "$first/build/ui/QuorvaneSetup.exe" "$second/build/ui/QuorvaneSetup.exe"; then
  echo "QuorvaneSetup.exe is not reproducible: the two builds differ (kept in $work)"
  exit 1
fi
rm -rf "$work"
echo "QuorvaneSetup.exe is reproducible"
