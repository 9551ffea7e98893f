#!/usr/bin/env bash
# Each given build of QuorvaneSetup.exe started from a folder that also holds
# planted copies of the non-KnownDLLs it uses, with Wine told to prefer a
# native copy of each: the program must show its window, load WinHTTP for its
# run, and load none of the planted copies. The second build is the program as
# on a Windows without SetDefaultDllDirectories, where only its delay-load
# hook keeps the planted copies out.
#   planted_dlls.sh PROBE_EXE PLANTED_DLL SETUP_EXE...
set -euo pipefail
probe_exe=$1 planted_dll=$2
shift 2
repo_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build_dir=${QV_BUILD_DIR:?QV_BUILD_DIR must name the build folder}
[ -n "${DISPLAY:-}" ] || { echo "no DISPLAY: run through tools/test.sh, which starts Xvfb"; exit 1; }
fail() { echo "FAIL: $*"; exit 1; }

# The DLLs the program loads itself, and version.dll, which Wine's user32
# loads by name. On the build without the call only the program's own are
# planted: Wine's native-first override makes a search by name pass over its
# builtin System32 copy and go on to the current folder, where Windows would
# stop at the real one in System32.
own=(winhttp gdiplus comctl32)
# The run fails at once against a closed loopback port, after WinHTTP is in use.
export http_proxy=http://127.0.0.1:9 https_proxy=http://127.0.0.1:9

check_markers() {  # folder
    local name
    for name in "${planted[@]}"; do
        [ ! -e "$1/$name.dll.loaded" ] || fail "$(basename "$1"): the planted $name.dll was loaded"
    done
}

planted=("${own[@]}" version)
for setup_exe in "$@"; do
    name=$(basename "$setup_exe" .exe)
    overrides=$(IFS=,; echo "${planted[*]}")
    folder=$build_dir/tests/ui/planted/$name
    rm -rf "$folder"
    mkdir -p "$folder"
    cp "$setup_exe" "$folder/QuorvaneSetup.exe"
    for dll in "${planted[@]}"; do cp "$planted_dll" "$folder/$dll.dll"; done
    log=$folder/loads.log

    (cd "$folder" && WINEDLLOVERRIDES="$overrides=n,b;mscoree,mshtml=" WINEDEBUG=+loaddll \
        exec "$repo_dir/tools/wine-run" "$folder/QuorvaneSetup.exe" >/dev/null 2>"$log" </dev/null) &
    setup_pid=$!
    trap 'kill $setup_pid 2>/dev/null || true' EXIT

    "$repo_dir/tools/wine-run" "$probe_exe" 30 </dev/null >/dev/null ||
        { check_markers "$folder"; fail "$name: no installer window appeared (see $log)"; }
    tries=0
    until grep -qF 'Loaded L"C:\\windows\\system32\\winhttp.dll"' "$log"; do
        tries=$((tries + 1))
        [ $tries -le 200 ] || fail "$name: the run never loaded WinHTTP from System32 (see $log)"
        sleep 0.1
    done
    kill "$setup_pid" 2>/dev/null || true
    wait "$setup_pid" 2>/dev/null || true
    # The window has gone before the next build looks for its own.
    for _ in $(seq 50); do "$repo_dir/tools/wine-run" "$probe_exe" 1 </dev/null >/dev/null 2>&1 || break; sleep 0.1; done

    check_markers "$folder"
    if grep -i "Loaded L\"Z:.*planted.*\.dll\"" "$log"; then fail "$name: a DLL from the program's folder was loaded"; fi
    echo "ok: $name: WinHTTP came from System32; none of ${planted[*]} was taken from the program's folder"
    planted=("${own[@]}")
done
