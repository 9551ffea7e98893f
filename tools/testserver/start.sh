#!/usr/bin/env bash
# Starts the local HTTPS test server for one test run: certificates, the test
# CA trusted inside the project's Wine prefix, then the server in the
# background. Usage: start.sh <build folder> [trust helper .exe]
# The server stops with stop.sh, when the process that ran this script (ctest)
# is gone, or after QV_TEST_SERVER_MINUTES (default 100).
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
build_dir=$(cd "$1" && pwd)
trust_helper=${2:-$build_dir/tools/trust-test-ca.exe}
folder=$build_dir/testserver
parent_pid=${QV_TEST_SERVER_PARENT:-$PPID}

mkdir -p "$folder"
bash "$here/stop.sh" "$build_dir"
bash "$here/make-certificates.sh" "$folder"

# Trusted only in the project's own prefix, never on the host.
QV_BUILD_DIR=$build_dir "$here/../wine-run" "$trust_helper" "Z:${folder//\//\\}\\ca\\ca.pem" </dev/null

rm -f "$folder/endpoints.txt" "$folder/requests.log"
setsid python3 "$here/server.py" --folder "$folder" --parent-pid "$parent_pid" \
  --time-limit $(( ${QV_TEST_SERVER_MINUTES:-100} * 60 )) </dev/null >"$folder/server.log" 2>&1 &
echo $! > "$folder/server.pid"

for _ in $(seq 100); do
  [ -f "$folder/endpoints.txt" ] && { cat "$folder/endpoints.txt"; exit 0; }
  kill -0 "$(cat "$folder/server.pid")" 2>/dev/null || break
  sleep 0.1
done
echo "test server did not start; see $folder/server.log" >&2
cat "$folder/server.log" >&2
exit 1
