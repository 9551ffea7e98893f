#!/usr/bin/env bash
# Configures (once) and builds the host build of the platform-free logic into
# the given folder, with clang and the sanitizers.
set -euo pipefail
source_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
binary_dir=$1
if [ ! -f "$binary_dir/build.ninja" ]; then
  cmake -S "$source_dir" -B "$binary_dir" -G Ninja -DCMAKE_CXX_COMPILER=clang++ >/dev/null
fi
cmake --build "$binary_dir"
