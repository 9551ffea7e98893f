#!/usr/bin/env bash
# Builds everything and runs every test under Wine. Safe to run again.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

ensure_packages
build_project
trap stop_background EXIT
ensure_display
ensure_wine_prefix
cd "$build_dir"
ctest --output-on-failure "$@"
