#!/usr/bin/env bash
# Stops the test server that start.sh started for this build folder, by its pid.
set -euo pipefail
folder=$1/testserver
pid=$(cat "$folder/server.pid" 2>/dev/null || true)
[ -n "$pid" ] || exit 0
if grep -q "testserver/server.py" "/proc/$pid/cmdline" 2>/dev/null; then
  kill "$pid" 2>/dev/null || true
  for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
fi
rm -f "$folder/server.pid" "$folder/endpoints.txt"
