#!/usr/bin/env bash
# Each given build of QuorvaneSetup.exe started from a folder that also holds
# planted copies of the non-KnownDLLs it uses, with Wine told to prefer a
# native copy of each: the program must show its window, load WinHTTP for its
# run, and load none of the planted copies. The second build is the program as
# on a Windows without SetDefaultDllDirectories, where only its delay-load
# hook keeps the planted copies out; it runs signed, so that it reads its own
# signature through crypt32, and a screen reader attaches, so that it loads oleacc.
#   planted_dlls.sh PROBE_EXE PLANTED_DLL READER_EXE SETUP_EXE...
set -euo pipefail
probe_exe=$1 planted_dll=$2 reader_exe=$3
shift 3
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
signed=0
for setup_exe in "$@"; do
    name=$(basename "$setup_exe" .exe)
    overrides=$(IFS=,; echo "${planted[*]}")
    folder=$build_dir/tests/ui/planted/$name
    rm -rf "$folder"
    mkdir -p "$folder"
    cp "$setup_exe" "$folder/QuorvaneSetup.exe"
    if [ "$signed" = 1 ]; then
        openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 2 -keyout "$folder/signer.key" \
            -out "$folder/signer.pem" -subj "/O=Quorvane Software/CN=Quorvane Software" 2>/dev/null
        osslsigncode sign -certs "$folder/signer.pem" -key "$folder/signer.key" -h sha256 \
            -in "$folder/QuorvaneSetup.exe" -out "$folder/signed.exe" >/dev/null
        mv "$folder/signed.exe" "$folder/QuorvaneSetup.exe"
    fi
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
    if [ "$signed" = 1 ]; then
        "$repo_dir/tools/wine-run" "$reader_exe" <<<"tree" >/dev/null 2>&1 || fail "$name: the screen reader failed"
        for dll in crypt32 oleacc; do
            grep -qiF "Loaded L\"C:\\\\windows\\\\system32\\\\$dll.dll\"" "$log" ||
                fail "$name: $dll.dll was not loaded from System32 (see $log)"
        done
    fi
    kill "$setup_pid" 2>/dev/null || true
    wait "$setup_pid" 2>/dev/null || true
    # The window has gone before the next build looks for its own.
    for _ in $(seq 50); do "$repo_dir/tools/wine-run" "$probe_exe" 1 </dev/null >/dev/null 2>&1 || break; sleep 0.1; done

    check_markers "$folder"
    if grep -i "Loaded L\"Z:.*planted.*\.dll\"" "$log"; then fail "$name: a DLL from the program's folder was loaded"; fi
    echo "ok: $name: WinHTTP came from System32; none of ${planted[*]} was taken from the program's folder"
    # The build without the call: the program's own DLLs, and those its signature and a reader bring in.
    planted=("${own[@]}" crypt32 wintrust oleacc)
    signed=1
done
