#!/usr/bin/env bash
# Builds QuorvaneSetup.exe and starts it under Wine. Safe to run again.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

ensure_packages
build_project
trap stop_background EXIT
ensure_display
ensure_wine_prefix
say "starting $build_dir/ui/QuorvaneSetup.exe under Wine"
say "this build has the pipeline core only: no window yet, and the run ends at once with"
say "\"此版本尚未包含安装步骤\" because the installation stages are not built yet"
wine_run "$build_dir/ui/QuorvaneSetup.exe"
say "QuorvaneSetup.exe exited with code $?"
