#!/usr/bin/env bash
# Builds the release QuorvaneSetup.exe from clean and signs it with Authenticode
# (SHA-256) through osslsigncode, verifies the signature, and checks that
# removing it gives back the unsigned build byte for byte.
#
#   QV_SIGN_PKCS12=key.p12 QV_SIGN_PASSWORD_FILE=password.txt bash tools/release.sh [OUTPUT_FOLDER]
#
# The key and its password come from the environment, never the command line:
#   QV_SIGN_PKCS12         PKCS#12 file with the code-signing key and certificate chain (required)
#   QV_SIGN_PASSWORD_FILE  file whose first line is its password, or
#   QV_SIGN_PASSWORD       the password itself
#   QV_TIMESTAMP_URL       RFC 3161 timestamp server, passed to osslsigncode -ts (optional)
#   QV_SIGN_CA_FILE        CA certificates to verify with (default: the system's)
#   QV_RELEASE_UNSIGNED    sign this already built executable instead of building one
#   QV_SIGN_INSTALLER      also sign this unsigned full installer with the same key (optional):
#                          every signed setup runs only an installer of its own publisher
# OUTPUT_FOLDER (default <build>/release-out) receives QuorvaneSetup.exe (signed),
# QuorvaneSetup-unsigned.exe, the signed full installer under its own name and
# SHA256SUMS. The build is a clean one in <build>/release-build;
# tools/check_reproducible.sh shows it is reproducible. Each file is signed
# under a temporary name and takes its place only once every file has been
# verified; a failed run leaves none of them, nor an older release's, behind.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
output=${1:-$build_dir/release-out}

fail() { echo "release: $*" >&2; exit 1; }
[ -n "${QV_SIGN_PKCS12:-}" ] || fail "QV_SIGN_PKCS12 names no PKCS#12 file"
[ -r "$QV_SIGN_PKCS12" ] || fail "cannot read $QV_SIGN_PKCS12"
if [ -n "${QV_SIGN_PASSWORD_FILE:-}" ]; then
  [ -r "$QV_SIGN_PASSWORD_FILE" ] || fail "cannot read $QV_SIGN_PASSWORD_FILE"
  password=$(head -n 1 "$QV_SIGN_PASSWORD_FILE")
elif [ -n "${QV_SIGN_PASSWORD+set}" ]; then
  password=$QV_SIGN_PASSWORD
else
  fail "set QV_SIGN_PASSWORD_FILE or QV_SIGN_PASSWORD"
fi

mkdir -p "$output"
unsigned=$output/QuorvaneSetup-unsigned.exe
signed=$output/QuorvaneSetup.exe
published=("$signed" "$unsigned" "$output/SHA256SUMS")
installer_name=
if [ -n "${QV_SIGN_INSTALLER:-}" ]; then
  [ -r "$QV_SIGN_INSTALLER" ] || fail "cannot read $QV_SIGN_INSTALLER"
  installer_name=$(basename "$QV_SIGN_INSTALLER")
  case $installer_name in
    QuorvaneSetup.exe | QuorvaneSetup-unsigned.exe | SHA256SUMS) fail "the full installer may not be named $installer_name" ;;
  esac
  published+=("$output/$installer_name")
fi
rm -f "${published[@]}"
work=$(mktemp -d "$output/.release.XXXXXX")
finish() {
  local code=$?
  rm -rf "$work"
  [ "$code" -eq 0 ] || rm -f "${published[@]}"
}
trap finish EXIT

if [ -n "${QV_RELEASE_UNSIGNED:-}" ]; then
  cp "$QV_RELEASE_UNSIGNED" "$work/QuorvaneSetup-unsigned.exe"
else
  release_build=$build_dir/release-build
  rm -rf "$release_build"
  say "building the release executable in $release_build"
  cmake -S "$repo_dir" -B "$release_build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$repo_dir/cmake/mingw-w64-x86_64.cmake" -DCMAKE_BUILD_TYPE=MinSizeRel >/dev/null
  cmake --build "$release_build" --target QuorvaneSetup >/dev/null
  cp "$release_build/ui/QuorvaneSetup.exe" "$work/QuorvaneSetup-unsigned.exe"
fi

timestamp=()
[ -n "${QV_TIMESTAMP_URL:-}" ] && timestamp=(-ts "$QV_TIMESTAMP_URL")
ca_file=${QV_SIGN_CA_FILE:-/etc/ssl/certs/ca-certificates.crt}
: >"$output/verify.log"
# Signs the unsigned file into the work folder under the given name, verifies
# the signature and that removing it gives back the unsigned file byte for byte.
sign_and_verify() {  # unsigned file, name
  local name=$2
  say "signing $name"
  # The password reaches osslsigncode on its standard input.
  printf '%s' "$password" | osslsigncode sign -pkcs12 "$QV_SIGN_PKCS12" -readpass - -h sha256 \
    -n "澜岫 在线安装器" "${timestamp[@]}" -in "$1" -out "$work/$name" >/dev/null ||
    fail "osslsigncode could not sign $name"
  osslsigncode verify -in "$work/$name" -CAfile "$ca_file" -TSA-CAfile "$ca_file" >>"$output/verify.log" 2>&1 ||
    fail "the signature of $name does not verify (see $output/verify.log)"
  osslsigncode remove-signature -in "$work/$name" -out "$work/signature-removed" >/dev/null
  cmp -s "$work/signature-removed" "$1" || fail "removing the signature of $name does not give back the unsigned file"
  rm -f "$work/signature-removed"
}
sign_and_verify "$work/QuorvaneSetup-unsigned.exe" QuorvaneSetup.exe
files=(QuorvaneSetup.exe QuorvaneSetup-unsigned.exe)
if [ -n "$installer_name" ]; then
  cp "$QV_SIGN_INSTALLER" "$work/unsigned-installer"
  sign_and_verify "$work/unsigned-installer" "$installer_name"
  files+=("$installer_name")
fi

(cd "$work" && sha256sum "${files[@]}" > SHA256SUMS)
for file in "${files[@]}" SHA256SUMS; do mv "$work/$file" "$output/$file"; done
cat "$output/SHA256SUMS"
say "signed and verified: ${files[*]} in $output"
