#!/usr/bin/env bash
# The real QuorvaneSetup.exe started from a folder that also holds planted
# copies of the non-KnownDLLs it uses, with Wine told to prefer a native copy
# of each: the program must show its window, load WinHTTP for its run, and
# load none of the planted copies.
#   planted_dlls.sh SETUP_EXE PROBE_EXE PLANTED_DLL
set -euo pipefail
setup_exe=$1 probe_exe=$2 planted_dll=$3
repo_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build_dir=${QV_BUILD_DIR:?QV_BUILD_DIR must name the build folder}
[ -n "${DISPLAY:-}" ] || { echo "no DISPLAY: run through tools/test.sh, which starts Xvfb"; exit 1; }
fail() { echo "FAIL: $*"; exit 1; }

folder=$build_dir/tests/ui/planted
rm -rf "$folder"
mkdir -p "$folder"
cp "$setup_exe" "$folder/QuorvaneSetup.exe"
planted=(winhttp gdiplus comctl32 version)
for name in "${planted[@]}"; do cp "$planted_dll" "$folder/$name.dll"; done
log=$folder/loads.log

# The run fails at once against a closed loopback port, after WinHTTP is in use.
export http_proxy=http://127.0.0.1:9 https_proxy=http://127.0.0.1:9
overrides=$(IFS=,; echo "${planted[*]}")
cd "$folder"
WINEDLLOVERRIDES="$overrides=n,b;mscoree,mshtml=" WINEDEBUG=+loaddll \
    "$repo_dir/tools/wine-run" "$folder/QuorvaneSetup.exe" >/dev/null 2>"$log" </dev/null &
setup_pid=$!
trap 'kill $setup_pid 2>/dev/null || true' EXIT

check_markers() {
    local name
    for name in "${planted[@]}"; do
        [ ! -e "$folder/$name.dll.loaded" ] || fail "the planted $name.dll was loaded"
    done
}

"$repo_dir/tools/wine-run" "$probe_exe" 30 </dev/null >/dev/null || { check_markers; fail "no installer window appeared (see $log)"; }
tries=0
until grep -qF 'Loaded L"C:\\windows\\system32\\winhttp.dll"' "$log"; do
    tries=$((tries + 1))
    [ $tries -le 200 ] || fail "the run never loaded WinHTTP from System32 (see $log)"
    sleep 0.1
done
kill "$setup_pid" 2>/dev/null || true
wait "$setup_pid" 2>/dev/null || true

check_markers
if grep -i "Loaded L\"Z:.*planted.*\.dll\"" "$log"; then fail "a DLL from the program's folder was loaded"; fi
echo "ok: WinHTTP came from System32; none of ${planted[*]} was taken from the program's folder"
