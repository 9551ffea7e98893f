# Shared set-up for the README commands: packages, build, Wine prefix.
# Sourced by tools/demo.sh, tools/test.sh and bench/bench.sh.

repo_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir=${QV_BUILD_DIR:-$repo_dir/build}
export QV_BUILD_DIR=$build_dir

required_packages=(
  cmake ninja-build googletest
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  wine wine64 xvfb xauth xdotool imagemagick fonts-wqy-microhei
  python3 openssl
  clang libclang-rt-14-dev
  libcurl4-openssl-dev libssl-dev osslsigncode
  softhsm2 libengine-pkcs11-openssl
)

say() { printf '== %s\n' "$*"; }

ensure_packages() {
  local missing=() package
  for package in "${required_packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ "$(id -u)" -ne 0 ]; then
    echo "Missing Debian packages. Run as root, then start this command again:"
    echo "  apt-get update && apt-get install -y ${missing[*]}"
    exit 1
  fi
  say "installing ${missing[*]}"
  apt-get update -q
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${missing[@]}"
}

build_project() {
  if [ ! -f "$build_dir/build.ninja" ]; then
    cmake -S "$repo_dir" -B "$build_dir" -G Ninja \
      -DCMAKE_TOOLCHAIN_FILE="$repo_dir/cmake/mingw-w64-x86_64.cmake" -DCMAKE_BUILD_TYPE=MinSizeRel >/dev/null
  fi
  cmake --build "$build_dir"
}

wine_run() { "$repo_dir/tools/wine-run" "$@"; }

# Xvfb on a free display when none is given, of the given screen size
# (default 1024x768); stopped when the script ends.
ensure_display() {
  [ -n "${DISPLAY:-}" ] && return 0
  local size=${1:-1024x768} number=90
  while [ -e "/tmp/.X11-unix/X$number" ] || [ -e "/tmp/.X$number-lock" ]; do number=$((number + 1)); done
  Xvfb ":$number" -screen 0 "${size}x24" -nolisten tcp >/dev/null 2>&1 &
  xvfb_pid=$!
  export DISPLAY=":$number"
  local tries=0
  until [ -e "/tmp/.X11-unix/X$number" ]; do
    tries=$((tries + 1)); [ $tries -gt 100 ] && { echo "Xvfb did not start"; exit 1; }
    sleep 0.1
  done
}

# The project's own prefix: Windows 10, CJK faces mapped, no Mono/Gecko prompts.
ensure_wine_prefix() {
  local prefix="$build_dir/wineprefix" marker="$build_dir/wineprefix/.quorvane-ready"
  if [ ! -f "$marker" ]; then
    say "creating Wine prefix $prefix"
    mkdir -p "$prefix"
    wine_run wineboot -i >/dev/null 2>&1
    wine_run winecfg /v win10 >/dev/null 2>&1
    local face
    for face in "Microsoft YaHei UI" "Microsoft YaHei"; do
      wine_run reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "$face" /d "WenQuanYi Micro Hei" /f >/dev/null 2>&1
    done
    touch "$marker"
  fi
  # A persistent server keeps each later Wine start short. It and its services
  # are started here, not by the first test: they would inherit the test's
  # output and keep ctest waiting for it to close.
  "$repo_dir/tools/wine-server" start "$prefix"
}

stop_background() {
  "$repo_dir/tools/wine-server" stop "$build_dir/wineprefix" || true
  [ -n "${xvfb_pid:-}" ] && kill "$xvfb_pid" 2>/dev/null || true
}
