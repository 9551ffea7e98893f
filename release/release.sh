#!/usr/bin/env bash
# Builds the release QuorvaneSetup.exe from clean and signs it with Authenticode
# (SHA-256) through osslsigncode, with an RFC 3161 timestamp, verifies the
# signature and the timestamp's chain, and checks that removing the signature
# gives back the unsigned build byte for byte.
#
#   QV_SIGN_PKCS11_MODULE=module.so QV_SIGN_KEY_URI='pkcs11:token=...;object=...' QV_SIGN_CERTS=chain.pem \
#     QV_SIGN_PIN_FILE=pin.txt QV_TIMESTAMP_URL=http://timestamp.example bash release/release.sh [OUTPUT_FOLDER]
#   QV_SIGN_PKCS12=key.p12 QV_SIGN_PASSWORD_FILE=password.txt QV_TIMESTAMP_URL=... bash release/release.sh
#
# Exactly one kind of key. A key kept in a token or HSM, through its PKCS#11 module:
#   QV_SIGN_PKCS11_MODULE  the module (the token's, an HSM's or a signing service's)
#   QV_SIGN_KEY_URI        the key as a pkcs11: URI, without the PIN
#   QV_SIGN_CERTS          PEM file with the signing certificate and its chain
#   QV_SIGN_PIN_FILE       file whose first line is the PIN, or QV_SIGN_PIN the PIN itself
# Or a key in a file (test keys; a publicly trusted code-signing key lives in hardware):
#   QV_SIGN_PKCS12         PKCS#12 file with the key and its certificate chain
#   QV_SIGN_PASSWORD_FILE  file whose first line is its password, or QV_SIGN_PASSWORD the password
# The PIN and the password reach osslsigncode on its standard input, never a
# command line, a log or a child's environment.
#   QV_TIMESTAMP_URL       RFC 3161 timestamp server (required: a signature without a
#                          timestamp stops verifying when its certificate expires)
#   QV_NO_TIMESTAMP=1      sign without one anyway, with a warning (tests only)
#   QV_SIGN_CA_FILE        CA certificates to verify the signer with (default: the system's)
#   QV_TIMESTAMP_CA_FILE   CA certificates to verify the timestamp with (default: QV_SIGN_CA_FILE)
#   QV_RELEASE_UNSIGNED    sign this already built executable instead of building one
#   QV_SIGN_INSTALLER      also sign this unsigned full installer with the same key (optional):
#                          every signed setup runs only an installer of its own publisher
#   QV_INSTALLER_DESCRIPTION  the description in the installer's signature (default 澜岫)
# The signing certificate's expiry is printed; an expired one is refused, and
# fewer than 30 days left is warned about.
#
# OUTPUT_FOLDER (default <build>/release-out) receives QuorvaneSetup.exe (signed),
# QuorvaneSetup-unsigned.exe, the signed full installer under its own name,
# SHA256SUMS and verify.log. The build is a clean one in <build>/release-build;
# release/check_reproducible.sh shows it is reproducible. Every input is copied
# into a work folder before anything is removed, and is never written: an
# input that is one of the files this run replaces is refused. Each file is
# signed under a temporary name and takes its place only once every file has
# been verified; a failed run leaves none of them, nor an older release's, behind.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../tools/common.sh"
output=${1:-$build_dir/release-out}

fail() { echo "release: $*" >&2; exit 1; }
warn() { echo "release: warning: $*" >&2; }

# Reads a secret from the file the first variable names or from the second
# variable into secret, and takes the variable out of the environment, so
# that no program started from here inherits it.
read_secret() {  # file variable, value variable
  local file=${!1:-}
  if [ -n "$file" ]; then
    [ -r "$file" ] || fail "cannot read $file"
    IFS= read -r secret <"$file" || [ -n "$secret" ] || fail "$1 names an empty file"
  elif [ -n "${!2+set}" ]; then
    secret=${!2}
  else
    fail "set $1 or $2"
  fi
  unset "$2"
}

secret=
inputs=()  # variable names of the files this run reads
if [ -n "${QV_SIGN_PKCS12:-}" ] && [ -n "${QV_SIGN_PKCS11_MODULE:-}${QV_SIGN_KEY_URI:-}" ]; then
  fail "give one kind of key: QV_SIGN_PKCS12, or QV_SIGN_PKCS11_MODULE with QV_SIGN_KEY_URI, not both"
elif [ -n "${QV_SIGN_PKCS12:-}" ]; then
  key_kind=pkcs12
  read_secret QV_SIGN_PASSWORD_FILE QV_SIGN_PASSWORD
  inputs+=(QV_SIGN_PKCS12 QV_SIGN_PASSWORD_FILE)
elif [ -n "${QV_SIGN_PKCS11_MODULE:-}${QV_SIGN_KEY_URI:-}" ]; then
  key_kind=pkcs11
  [ -n "${QV_SIGN_PKCS11_MODULE:-}" ] || fail "QV_SIGN_KEY_URI needs QV_SIGN_PKCS11_MODULE, the token's PKCS#11 module"
  [ -n "${QV_SIGN_KEY_URI:-}" ] || fail "QV_SIGN_PKCS11_MODULE needs QV_SIGN_KEY_URI, the key's pkcs11: URI"
  [ -n "${QV_SIGN_CERTS:-}" ] || fail "QV_SIGN_CERTS names no file with the signing certificate and its chain"
  # The URI is shown in process lists and logs, so the PIN may not ride in it;
  # nor is the URI itself printed, in case it does.
  case $QV_SIGN_KEY_URI in
    pkcs11:*) ;;
    *) fail "QV_SIGN_KEY_URI is no pkcs11: URI" ;;
  esac
  case $QV_SIGN_KEY_URI in
    *pin-value=* | *pin-source=*) fail "QV_SIGN_KEY_URI carries the PIN: give it in QV_SIGN_PIN_FILE or QV_SIGN_PIN" ;;
  esac
  read_secret QV_SIGN_PIN_FILE QV_SIGN_PIN
  inputs+=(QV_SIGN_PKCS11_MODULE QV_SIGN_CERTS QV_SIGN_PIN_FILE)
else
  fail "name a key: QV_SIGN_PKCS11_MODULE with QV_SIGN_KEY_URI (a token), or QV_SIGN_PKCS12 (a file)"
fi
unset QV_SIGN_PASSWORD QV_SIGN_PIN

timestamp=()
if [ -n "${QV_TIMESTAMP_URL:-}" ]; then
  timestamp=(-ts "$QV_TIMESTAMP_URL")
elif [ "${QV_NO_TIMESTAMP:-}" != 1 ]; then
  fail "QV_TIMESTAMP_URL names no RFC 3161 timestamp server: without a timestamp the signatures stop verifying" \
    "when the certificate expires (QV_NO_TIMESTAMP=1 signs without one, for tests)"
fi
ca_file=${QV_SIGN_CA_FILE:-/etc/ssl/certs/ca-certificates.crt}
timestamp_ca_file=${QV_TIMESTAMP_CA_FILE:-$ca_file}
QV_SIGN_CA_FILE=$ca_file QV_TIMESTAMP_CA_FILE=$timestamp_ca_file
inputs+=(QV_SIGN_CA_FILE QV_TIMESTAMP_CA_FILE QV_RELEASE_UNSIGNED QV_SIGN_INSTALLER)

unsigned=$output/QuorvaneSetup-unsigned.exe
signed=$output/QuorvaneSetup.exe
published=("$signed" "$unsigned" "$output/SHA256SUMS")
installer_name=
if [ -n "${QV_SIGN_INSTALLER:-}" ]; then
  installer_name=$(basename "$QV_SIGN_INSTALLER")
  case $installer_name in
    QuorvaneSetup.exe | QuorvaneSetup-unsigned.exe | SHA256SUMS | verify.log)
      fail "the full installer may not be named $installer_name" ;;
  esac
  published+=("$output/$installer_name")
fi
# Compared as files, so that another path or a link to the same file counts too.
for variable in "${inputs[@]}"; do
  input=${!variable:-}
  [ -n "$input" ] || continue
  [ -r "$input" ] || fail "cannot read $input ($variable)"
  for file in "${published[@]}" "$output/verify.log"; do
    if [ "$input" -ef "$file" ]; then
      fail "$variable is $file, which this run replaces: move it out of $output first (nothing was changed)"
    fi
  done
done

mkdir -p "$output"
work=$(mktemp -d "$output/.release.XXXXXX")
finish() {
  local code=$?
  rm -rf "$work"
  [ "$code" -eq 0 ] || rm -f "${published[@]}"
}
trap finish EXIT
# From here on only the copies are read.
mkdir "$work/inputs"
[ -z "${QV_RELEASE_UNSIGNED:-}" ] || cp "$QV_RELEASE_UNSIGNED" "$work/QuorvaneSetup-unsigned.exe"
[ -z "$installer_name" ] || cp "$QV_SIGN_INSTALLER" "$work/inputs/installer.exe"
[ -z "${QV_SIGN_PKCS12:-}" ] || cp "$QV_SIGN_PKCS12" "$work/inputs/key.p12"
[ -z "${QV_SIGN_CERTS:-}" ] || cp "$QV_SIGN_CERTS" "$work/inputs/certs.pem"
cp "$ca_file" "$work/inputs/ca.pem"
cp "$timestamp_ca_file" "$work/inputs/timestamp-ca.pem"
rm -f "${published[@]}"

# The signing certificate: in a PKCS#12 file the one beside the key, in a
# chain file the one that issued none of the others.
signer=$work/inputs/signer.pem
if [ "$key_kind" = pkcs12 ]; then
  printf '%s' "$secret" | openssl pkcs12 -in "$work/inputs/key.p12" -nokeys -clcerts -passin stdin -out "$signer" \
    2>/dev/null || fail "cannot read the certificate in $QV_SIGN_PKCS12 (a wrong password?)"
else
  mkdir "$work/chain"
  awk -v folder="$work/chain" '/-----BEGIN CERTIFICATE-----/ { count++ }
    count { print > (folder "/" count ".pem") } /-----END CERTIFICATE-----/ { close(folder "/" count ".pem") }' \
    "$work/inputs/certs.pem"
  certificates=("$work"/chain/*.pem)
  [ -e "${certificates[0]}" ] || fail "$QV_SIGN_CERTS holds no PEM certificate"
  leaves=()
  for certificate in "${certificates[@]}"; do
    subject_hash=$(openssl x509 -in "$certificate" -noout -subject_hash) || fail "cannot read $QV_SIGN_CERTS"
    issued=no
    for other in "${certificates[@]}"; do
      if [ "$other" != "$certificate" ] && [ "$(openssl x509 -in "$other" -noout -issuer_hash)" = "$subject_hash" ]; then
        issued=yes
      fi
    done
    [ "$issued" = yes ] || leaves+=("$certificate")
  done
  [ ${#leaves[@]} -eq 1 ] ||
    fail "$QV_SIGN_CERTS must hold one signing certificate and its chain: ${#leaves[@]} of its" \
      "${#certificates[@]} certificates issued none of the others"
  cp "${leaves[0]}" "$signer"
fi
subject=$(openssl x509 -in "$signer" -noout -subject -nameopt RFC2253,-esc_msb)
subject=${subject#subject=}
expiry=$(openssl x509 -in "$signer" -noout -enddate)
expiry=${expiry#notAfter=}
days_left=$(( ($(date -d "$expiry" +%s) - $(date +%s)) / 86400 ))
say "signing certificate $subject, valid until $expiry ($days_left days left)"
openssl x509 -in "$signer" -noout -checkend 0 >/dev/null ||
  fail "the signing certificate $subject expired on $expiry: renew it"
openssl x509 -in "$signer" -noout -checkend $((30 * 86400)) >/dev/null ||
  warn "the signing certificate expires in fewer than 30 days, on $expiry: renew it before the next release"
[ ${#timestamp[@]} -gt 0 ] ||
  warn "signing without a timestamp (QV_NO_TIMESTAMP=1): the signatures stop verifying on $expiry, and every" \
    "signed setup then refuses the installer"

if [ -z "${QV_RELEASE_UNSIGNED:-}" ]; then
  release_build=$build_dir/release-build
  rm -rf "$release_build"
  say "building the release executable in $release_build"
  cmake -S "$repo_dir" -B "$release_build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$repo_dir/cmake/mingw-w64-x86_64.cmake" -DCMAKE_BUILD_TYPE=MinSizeRel >/dev/null
  cmake --build "$release_build" --target QuorvaneSetup >/dev/null
  cp "$release_build/ui/QuorvaneSetup.exe" "$work/QuorvaneSetup-unsigned.exe"
fi

if [ "$key_kind" = pkcs12 ]; then
  key=(-pkcs12 "$work/inputs/key.p12")
else
  key=(-pkcs11module "$QV_SIGN_PKCS11_MODULE" -certs "$work/inputs/certs.pem" -key "$QV_SIGN_KEY_URI")
fi
: >"$output/verify.log"
# Signs the unsigned file into the work folder under the given name, verifies
# the signature and its timestamp, and that removing the signature gives back
# the unsigned file byte for byte.
sign_and_verify() {  # unsigned file, name, description
  local name=$2
  say "signing $name"
  # printf is a shell builtin: the secret shows on no command line.
  if ! printf '%s' "$secret" | osslsigncode sign "${key[@]}" -readpass - -h sha256 -n "$3" "${timestamp[@]}" \
    -in "$1" -out "$work/$name" >"$work/sign.log" 2>&1; then
    cat "$work/sign.log" >&2
    grep -q "PIN incorrect" "$work/sign.log" && fail "the token refused the PIN: nothing was signed"
    fail "osslsigncode could not sign $name"
  fi
  local log=$work/verify-$name.log
  osslsigncode verify -in "$work/$name" -CAfile "$work/inputs/ca.pem" -TSA-CAfile "$work/inputs/timestamp-ca.pem" \
    >"$log" 2>&1 || { cat "$log" >>"$output/verify.log"; fail "the signature of $name does not verify (see $output/verify.log)"; }
  cat "$log" >>"$output/verify.log"
  # osslsigncode passes a signature whose timestamp's chain fails, judging it
  # by the present time instead, so the timestamp's verdict is read here.
  if [ ${#timestamp[@]} -gt 0 ] && ! grep -q "^Timestamp Server Signature verification: ok" "$log"; then
    fail "the signature of $name carries no timestamp whose chain verifies with $timestamp_ca_file" \
      "(see $output/verify.log)"
  fi
  osslsigncode remove-signature -in "$work/$name" -out "$work/signature-removed" >/dev/null
  cmp -s "$work/signature-removed" "$1" || fail "removing the signature of $name does not give back the unsigned file"
  rm -f "$work/signature-removed"
}
sign_and_verify "$work/QuorvaneSetup-unsigned.exe" QuorvaneSetup.exe "澜岫 在线安装器"
files=(QuorvaneSetup.exe QuorvaneSetup-unsigned.exe)
if [ -n "$installer_name" ]; then
  sign_and_verify "$work/inputs/installer.exe" "$installer_name" "${QV_INSTALLER_DESCRIPTION:-澜岫}"
  files+=("$installer_name")
fi

(cd "$work" && sha256sum "${files[@]}" > SHA256SUMS)
for file in "${files[@]}" SHA256SUMS; do mv "$work/$file" "$output/$file"; done
sync "${published[@]}" "$output"
cat "$output/SHA256SUMS"
say "signed and verified: ${files[*]} in $output"
