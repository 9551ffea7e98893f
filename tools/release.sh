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
# OUTPUT_FOLDER (default <build>/release-out) receives QuorvaneSetup.exe (signed),
# QuorvaneSetup-unsigned.exe and SHA256SUMS. The build is a clean one in
# <build>/release-build; tools/check_reproducible.sh shows it is reproducible.
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
if [ -n "${QV_RELEASE_UNSIGNED:-}" ]; then
  cp "$QV_RELEASE_UNSIGNED" "$unsigned"
else
  release_build=$build_dir/release-build
  rm -rf "$release_build"
  say "building the release executable in $release_build"
  cmake -S "$repo_dir" -B "$release_build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$repo_dir/cmake/mingw-w64-x86_64.cmake" -DCMAKE_BUILD_TYPE=MinSizeRel >/dev/null
  cmake --build "$release_build" --target QuorvaneSetup >/dev/null
  cp "$release_build/ui/QuorvaneSetup.exe" "$unsigned"
fi

timestamp=()
[ -n "${QV_TIMESTAMP_URL:-}" ] && timestamp=(-ts "$QV_TIMESTAMP_URL")
say "signing $signed"
rm -f "$signed"
# The password reaches osslsigncode on its standard input.
printf '%s' "$password" | osslsigncode sign -pkcs12 "$QV_SIGN_PKCS12" -readpass - -h sha256 \
  -n "澜岫 在线安装器" "${timestamp[@]}" -in "$unsigned" -out "$signed" >/dev/null ||
  fail "osslsigncode could not sign"

ca_file=${QV_SIGN_CA_FILE:-/etc/ssl/certs/ca-certificates.crt}
osslsigncode verify -in "$signed" -CAfile "$ca_file" -TSA-CAfile "$ca_file" >"$output/verify.log" 2>&1 ||
  fail "the signature does not verify (see $output/verify.log)"
stripped=$output/signature-removed.exe
osslsigncode remove-signature -in "$signed" -out "$stripped" >/dev/null
cmp -s "$stripped" "$unsigned" || fail "removing the signature does not give back the unsigned build"
rm -f "$stripped"

(cd "$output" && sha256sum QuorvaneSetup.exe QuorvaneSetup-unsigned.exe > SHA256SUMS && cat SHA256SUMS)
say "signed and verified: $signed"
