#!/usr/bin/env bash
# Builds everything and runs every test under Wine. Safe to run again.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

ensure_packages
build_project
trap stop_background EXIT
# Room for the window at 200 % display scale.
ensure_display 2560x1600
ensure_wine_prefix
cd "$build_dir"
ctest --output-on-failure "$@"
