#!/usr/bin/env bash
# The real QuorvaneSetup.exe under Wine and X, from start-up to exit.
#   startup_window.sh supported   SETUP_EXE PROBE_EXE
#     on the project's prefix (Windows 10): the window is 620 x 330 outside.
#   startup_window.sh unsupported SETUP_EXE PROBE_EXE READER_EXE
#     on a prefix of its own set to Windows 8.1: the window is 620 x 380, shows
#     the systems instead of a progress bar (no run started), a second copy
#     started beside it ends by itself with exit code 0 and opens no window,
#     and it ends with exit code 0 on Enter, in a second start on a click on
#     "关闭", and in a third on "关闭" pressed by a screen reader (READER_EXE)
#     that read both systems.
# Screenshots stay in <build>/tests/ui/screenshots/.
set -euo pipefail
mode=$1 setup_exe=$2 probe_exe=$3 reader_exe=${4:-}
repo_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build_dir=${QV_BUILD_DIR:?QV_BUILD_DIR must name the build folder}
[ -n "${DISPLAY:-}" ] || { echo "no DISPLAY: run through tools/test.sh, which starts Xvfb"; exit 1; }
shots=$build_dir/tests/ui/screenshots
mkdir -p "$shots"

wine_run() { "$repo_dir/tools/wine-run" "$@"; }
fail() { echo "FAIL: $*"; exit 1; }

# A prefix that reports Windows 8.1 (6.3.9600), with the window's faces mapped
# to an installed CJK font. Kept between runs; the marker says it is complete.
prepare_win81_prefix() {
    export WINEPREFIX_OVERRIDE=$build_dir/wineprefix-win81
    if [ ! -f "$WINEPREFIX_OVERRIDE/.quorvane-ready" ]; then
        mkdir -p "$WINEPREFIX_OVERRIDE"
        wine_run wineboot -i >/dev/null 2>&1 </dev/null
        wine_run winecfg /v win81 >/dev/null 2>&1 </dev/null
        local face
        for face in "Microsoft YaHei UI" "Microsoft YaHei"; do
            wine_run reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "$face" /d "WenQuanYi Micro Hei" /f \
                >/dev/null 2>&1 </dev/null
        done
        touch "$WINEPREFIX_OVERRIDE/.quorvane-ready"
    fi
    # Started here, not by the program, so that it does not hold the test's output open.
    "$repo_dir/tools/wine-server" start "$WINEPREFIX_OVERRIDE" || fail "no persistent Wine server for the prefix"
    trap '"$repo_dir/tools/wine-server" stop "$WINEPREFIX_OVERRIDE" || true' EXIT
}

# Starts the program and reads its window: sets setup_pid, outer, client_width,
# client_height, origin_x, origin_y.
start_setup() {
    # Not through wine_run: $! must be the program itself (wine-run execs Wine).
    "$repo_dir/tools/wine-run" "$setup_exe" >/dev/null 2>&1 </dev/null &
    setup_pid=$!
    local line
    line=$(wine_run "$probe_exe" 30 </dev/null) || fail "no installer window appeared ($line)"
    echo "window: $line"
    outer=$(sed -E 's/.*outer=([0-9]+x[0-9]+).*/\1/' <<<"$line")
    client_width=$(sed -E 's/.*client=([0-9]+)x.*/\1/' <<<"$line")
    client_height=$(sed -E 's/.*client=[0-9]+x([0-9]+).*/\1/' <<<"$line")
    origin_x=$(sed -E 's/.*origin=(-?[0-9]+),.*/\1/' <<<"$line")
    origin_y=$(sed -E 's/.*origin=-?[0-9]+,(-?[0-9]+).*/\1/' <<<"$line")
}

# Waits up to 15 s for the program to end and checks its exit code.
expect_exit_zero() {
    local what=$1 tries=0
    while kill -0 "$setup_pid" 2>/dev/null; do
        tries=$((tries + 1))
        if [ $tries -gt 150 ]; then
            kill "$setup_pid" 2>/dev/null || true
            fail "$what did not end the program"
        fi
        sleep 0.1
    done
    local code=0
    wait "$setup_pid" || code=$?
    [ "$code" -eq 0 ] || fail "$what ended the program with exit code $code, expected 0"
    echo "ok: $what ends the program with exit code 0"
}

# Colour of a client-area pixel in a screenshot, as RRGGBB.
client_pixel() {
    convert "$1" -format "%[hex:p{$((origin_x + $2)),$((origin_y + $3))}]" info: | cut -c1-6
}

expect_pixel() {
    local shot=$1 x=$2 y=$3 expected=$4 what=$5 actual
    actual=$(client_pixel "$shot" "$x" "$y")
    [ "$actual" = "$expected" ] || fail "$what: pixel ($x, $y) is #$actual, expected #$expected (see $shot)"
}

check_unsupported_screen() {
    local shot=$1 w=$client_width h=$client_height
    [ "$outer" = "620x380" ] || fail "unsupported window is $outer outside, expected 620x380"
    # Time for a run to show itself, had one been started.
    sleep 1
    import -window root "$shot"
    # Where a run would draw the bar's track (#E2E8F0), the card stays white.
    expect_pixel "$shot" $((w - 100)) 174 FFFFFF "no progress bar on the unsupported screen"
    expect_pixel "$shot" $((w - 60)) 174 FFFFFF "no percent on the unsupported screen"
    # "关闭" in the secondary style: its 1-pixel border at the button's left edge.
    expect_pixel "$shot" $((w - 124)) $((h - 33)) CBD5E1 "the 关闭 button"
    echo "ok: unsupported screen, $outer outside, no run"
}

# A second copy beside the window ends by itself, with exit code 0, within about 3 s
# of the moment its process exists in Wine (Wine then gives the process its file's
# name, cut to 15 characters): Wine's own start, long on a loaded machine, is not counted.
expect_second_copy_hands_over() {
    local code=0 line copy name tries=0
    name=$(basename "$setup_exe" | cut -c1-15)
    "$repo_dir/tools/wine-run" "$setup_exe" >/dev/null 2>&1 </dev/null &
    copy=$!
    until [ "$(cat "/proc/$copy/comm" 2>/dev/null)" = "$name" ]; do
        kill -0 "$copy" 2>/dev/null || break
        tries=$((tries + 1))
        [ $tries -le 3000 ] || { kill "$copy"; fail "a second copy was not seen to start in Wine within 60 s"; }
        sleep 0.02
    done
    local deadline=$(($(date +%s%N) + 3500000000))
    # A copy that has ended stays a zombie until it is waited for.
    while [ "$(cut -d' ' -f3 "/proc/$copy/stat" 2>/dev/null || echo Z)" != Z ]; do
        [ "$(date +%s%N)" -le $deadline ] || { kill "$copy"; fail "a second copy still ran 3.5 s after its start"; }
        sleep 0.02
    done
    wait "$copy" || code=$?
    [ "$code" -eq 0 ] || fail "a second copy ended with exit code $code"
    line=$(wine_run "$probe_exe" 1 </dev/null) || fail "the first window is gone after a second copy"
    [[ $line == *" windows=1"* ]] || fail "a second copy opened a window of its own: $line"
    echo "ok: a second copy ends with exit code 0 and opens no window"
}

case $mode in
supported)
    # The run that starts with the window sends its requests to a closed
    # loopback port, so that it fails at once and never leaves the machine.
    export http_proxy=http://127.0.0.1:9 https_proxy=http://127.0.0.1:9
    start_setup
    import -window root "$shots/supported-start.png"
    kill "$setup_pid" 2>/dev/null || true
    wait "$setup_pid" 2>/dev/null || true
    [ "$outer" = "620x330" ] || fail "window is $outer outside, expected 620x330"
    echo "ok: window is 620x330 outside"
    ;;
unsupported)
    prepare_win81_prefix

    start_setup
    check_unsupported_screen "$shots/unsupported-enter.png"
    expect_second_copy_hands_over
    # Wine names the program's X windows with its process id.
    xdotool search --all --pid "$setup_pid" --name "澜岫 在线安装" windowfocus --sync %1 \
        || fail "no X window of the program to focus"
    xdotool key Return
    expect_exit_zero "Enter"

    start_setup
    check_unsupported_screen "$shots/unsupported-click.png"
    xdotool mousemove $((origin_x + client_width - 74)) $((origin_y + client_height - 33)) click 1
    expect_exit_zero "a click on 关闭"

    start_setup
    answer=$(printf 'tree\ndo 8\n' | wine_run "$reader_exe" 2>/dev/null) || fail "the screen reader failed: $answer"
    echo "$answer" | grep -E '^child' || true
    for expected in 'child 3 .*name=当前系统无法安装 ' 'child 4 .*name=当前系统： ' 'child 5 .*name=Windows 8\.1 ' \
                    'child 6 .*name=支持系统： ' 'child 7 .*name=Windows 10 1809 及以上版本\\nWindows 11（64 位）' \
                    'child 8 role=0x2B .*name=关闭 .*action=按下' 'do 0x00000000'; do
        grep -qE "$expected" <<<"$answer" || fail "the screen reader did not find '$expected'"
    done
    echo "ok: a screen reader reads both systems on the unsupported screen"
    expect_exit_zero "关闭 pressed by a screen reader"
    ;;
*)
    fail "unknown mode $mode"
    ;;
esac
