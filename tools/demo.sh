#!/usr/bin/env bash
# Runs a whole installation with the real QuorvaneSetup.exe under Wine: a local
# HTTPS release server plays the maker's servers (update.quorvane.com,
# files.quorvane.com, reached through a loopback proxy), offering a stand-in
# product installer and a segment database. Safe to run again.
#
# With a DISPLAY the window appears there; without one the script starts its
# own Xvfb and keeps screenshots of the run in build/demo/.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

ensure_packages
build_project
trap 'bash "$repo_dir/tools/testserver/stop.sh" "$build_dir"; stop_background' EXIT
ensure_display
ensure_wine_prefix

say "starting the local release server"
QV_TEST_SERVER_PARENT=$$ bash "$repo_dir/tools/testserver/start.sh" "$build_dir" >/dev/null
source "$build_dir/testserver/endpoints.txt"
python3 "$repo_dir/tools/testserver/publish_release.py" "$build_dir" --rate 6000000 \
  --installer-padding $((24 << 20)) --segment-size $((4 << 20)) >"$build_dir/demo-release.json"

profile=$(ls -d "$build_dir"/wineprefix/drive_c/users/*/ | grep -v -i '/public/$' | head -1)
data="${profile}AppData/Local/QuorvaneSoft/QuorvaneX"
say "a first installation: removing $data"
rm -rf "${profile}AppData/Local/QuorvaneSoft"

shots=$build_dir/demo
rm -rf "$shots" && mkdir -p "$shots"
say "starting QuorvaneSetup.exe (window on DISPLAY=$DISPLAY)"
http_proxy=http://127.0.0.1:$proxy_port "$repo_dir/tools/wine-run" "$build_dir/ui/QuorvaneSetup.exe" \
  </dev/null >/dev/null 2>&1 &
setup_pid=$!
shot=0
while kill -0 "$setup_pid" 2>/dev/null; do
  sleep 0.5
  shot=$((shot + 1))
  import -window root "$shots/$(printf '%03d' $shot).png" 2>/dev/null || true
done
code=0
wait "$setup_pid" || code=$?

say "QuorvaneSetup.exe ended with exit code $code"
if [ -f "$data/Application/product-started.txt" ]; then
  say "the installed product was started: $(head -1 "$data/Application/product-started.txt")"
else
  say "the installed product was not started"
fi
[ -f "$data/segments.qvrdb" ] && say "segment database installed: $(stat -c %s "$data/segments.qvrdb") bytes"
[ -f "$data/segment-manifest.json" ] && { say "local segment record:"; cat "$data/segment-manifest.json"; }
say "screenshots of the run: $shots ($shot pictures)"
exit "$code"
