#!/usr/bin/env bash
# Configures (once) and builds a host project with clang, outside the MinGW
# toolchain: the sanitizer build of tests/native and the release tool.
#   host_build.sh SOURCE_FOLDER BINARY_FOLDER
set -euo pipefail
source_dir=$1
binary_dir=$2
if [ ! -f "$binary_dir/build.ninja" ]; then
  cmake -S "$source_dir" -B "$binary_dir" -G Ninja -DCMAKE_CXX_COMPILER=clang++ >/dev/null
fi
cmake --build "$binary_dir"
