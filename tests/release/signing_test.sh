#!/usr/bin/env bash
# Signs the release executable and a full installer through release/release.sh
# with code-signing certificates from a test CA: through PKCS#11 with the key
# in a SoftHSM2 token made here (its configuration and tokens in this test's
# folder, never the system's), and from PKCS#12 files, against a loopback
# RFC 3161 timestamp server (openssl ts -reply). Then: osslsigncode with that
# CA accepts both files and finds the timestamp, a copy with one byte changed
# is refused, and without its signature the setup is the unsigned build again;
# the PIN shows in no output and on no command line. The refusals: an input
# that the run would replace, a wrong PIN, an unverified signature or
# timestamp, no timestamp server, an expired certificate; none leaves anything
# publishable, and the installer input inside the output folder stays as it
# was. Then asks WinVerifyTrust under Wine, with the test CA trusted in the
# project's prefix only, and prints what Wine answers.
#
# What release/release.sh promises, each held by a check below:
# - one kind of key, a token's (PKCS#11, the URI without the PIN) or a file's;
#   both, neither, or a PIN inside the URI refused before anything changes
# - the PIN or password on osslsigncode's standard input only: in no output,
#   no command line; a wrong PIN fails plainly
# - SHA-256, each file its own description, an RFC 3161 timestamp whose chain
#   verifies (none only with QV_NO_TIMESTAMP=1, warned), the expiry printed,
#   an expired certificate refused, fewer than 30 days warned
# - every signature verified, and the setup without it is the unsigned build
# - inputs never written: one that is a file the run replaces refused, and
#   the installer may not take a published file's name
# - a failed run leaves nothing publishable, an earlier release's files neither
#   signing_test.sh BUILD_DIR SETUP_EXE VERIFY_TRUST_EXE TRUST_TEST_CA_EXE
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo_dir=$(cd "$here/../.." && pwd)
build_dir=$1 setup_exe=$2 verify_trust=$3 trust_test_ca=$4
folder=$build_dir/tests/release/signing
ca=$build_dir/signing-ca
rm -rf "$folder"
mkdir -p "$folder" "$ca"
failures=0
check() {  # description, command...
  local description=$1; shift
  if "$@"; then echo "ok: $description"; else echo "FAILED: $description"; failures=$((failures + 1)); fi
}

# The CA is kept between runs, so the prefix's Root store holds only one.
if [ ! -f "$ca/ca.pem" ] || [ ! -f "$ca/ca.key" ]; then
  openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 3650 -keyout "$ca/ca.key" -out "$ca/ca.pem" \
    -subj "/CN=Quorvane Test Code Signing CA" -addext "basicConstraints=critical,CA:TRUE" \
    -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
fi
: >"$folder/ca-index"
printf '[ca]\ndefault_ca=test\n[test]\ndatabase=%s\nnew_certs_dir=%s\ndefault_md=sha256\npolicy=any\n' \
  "$folder/ca-index" "$folder" >"$folder/ca.cnf"
printf 'rand_serial=yes\nunique_subject=no\n[any]\ncommonName=supplied\n' >>"$folder/ca.cnf"
printf 'test password %s\n' "$RANDOM" > "$folder/password"
issue() {  # name, extended key usage, then openssl ca's validity options
  local name=$1 usage=$2; shift 2
  openssl req -new -newkey rsa:2048 -nodes -keyout "$folder/$name.key" -out "$folder/$name.csr" \
    -subj "/CN=Quorvane Software Test $name" 2>/dev/null
  printf 'basicConstraints=critical,CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=%s\n' "$usage" \
    > "$folder/$name.ext"
  openssl ca -batch -config "$folder/ca.cnf" -cert "$ca/ca.pem" -keyfile "$ca/ca.key" -in "$folder/$name.csr" \
    -out "$folder/$name.pem" -extfile "$folder/$name.ext" -notext "$@" 2>/dev/null
  openssl pkcs12 -export -inkey "$folder/$name.key" -in "$folder/$name.pem" -certfile "$ca/ca.pem" \
    -passout "file:$folder/password" -out "$folder/$name.p12"
}
issue signer codeSigning -days 90
issue short-lived codeSigning -days 10
issue expired codeSigning -startdate 20250101000000Z -enddate 20250201000000Z
issue timestamper critical,timeStamping -days 90

# The timestamp server, answering with the timestamper's key.
printf '01\n' >"$folder/timestamp-serial"
cat >"$folder/timestamp.cnf" <<EOF
[tsa]
default_tsa = test
[test]
serial = $folder/timestamp-serial
crypto_device = builtin
signer_cert = $folder/timestamper.pem
certs = $ca/ca.pem
signer_key = $folder/timestamper.key
signer_digest = sha256
default_policy = 1.3.6.1.4.1.99999.1
digests = sha256, sha384, sha512
accuracy = secs:1
ess_cert_id_alg = sha256
EOF
python3 "$here/timestamp_server.py" "$folder/timestamp.cnf" "$folder/timestamp-port" &
timestamp_server=$!
trap 'kill "$timestamp_server" 2>/dev/null || true' EXIT
for _ in $(seq 50); do [ -f "$folder/timestamp-port" ] && break; sleep 0.1; done
timestamp_url=http://127.0.0.1:$(cat "$folder/timestamp-port")

# The token: the signer's key imported, its certificate and the CA's in the
# chain file beside it (the CA first: the script finds the signer itself).
export SOFTHSM2_CONF=$folder/softhsm2.conf
mkdir "$folder/tokens"
printf 'directories.tokendir = %s\nobjectstore.backend = file\nlog.level = ERROR\n' "$folder/tokens" >"$SOFTHSM2_CONF"
pin="qv-pin-$RANDOM$RANDOM"
printf '%s\n' "$pin" >"$folder/pin"
printf 'wrong-%s\n' "$RANDOM" >"$folder/wrong-pin"
softhsm2-util --init-token --free --label quorvane-test --pin "$pin" --so-pin "so-$pin" >/dev/null
openssl pkcs8 -topk8 -nocrypt -in "$folder/signer.key" -out "$folder/signer.p8"
softhsm2-util --import "$folder/signer.p8" --token quorvane-test --label signer --id 01 --pin "$pin" >/dev/null
cat "$ca/ca.pem" "$folder/signer.pem" >"$folder/chain.pem"
module=$(dpkg -L libsofthsm2 | grep -m 1 '/libsofthsm2\.so$')
token=(QV_SIGN_PKCS11_MODULE="$module" "QV_SIGN_KEY_URI=pkcs11:token=quorvane-test;object=signer;type=private"
       QV_SIGN_CERTS="$folder/chain.pem")
key_file() { echo "QV_SIGN_PKCS12=$folder/$1.p12 QV_SIGN_PASSWORD_FILE=$folder/password"; }

out=$folder/out
installer=$build_dir/tools/standins/QuorvaneStandinInstaller.exe
# The installer input lies inside the output folder.
mkdir -p "$out/incoming"
incoming=$out/incoming/QuorvaneStandinInstaller.exe
cp "$installer" "$incoming"
release() {  # output folder, log, VARIABLE=value...
  local output=$1 log=$2; shift 2
  env QV_BUILD_DIR="$build_dir" QV_RELEASE_UNSIGNED="$setup_exe" QV_SIGN_CA_FILE="$ca/ca.pem" "$@" \
    bash "$repo_dir/release/release.sh" "$output" >"$folder/$log.log" 2>&1
}
refused() {  # expected message, release's arguments...
  local message=$1; shift
  ! release "$@" && grep -qF -- "$message" "$folder/$2.log"
}
nothing_publishable() { test "$(ls -A "$1" | grep -v -e '^verify.log$' -e '^incoming$' | tr '\n' ' ')" = ""; }

# The command lines of the programs that handle the PIN, as every process
# list shows them, recorded by stand-ins that then run the real programs:
# osslsigncode blanks its own -pass argument once running, which a sampling
# of the process list can miss.
mkdir "$folder/recorded"
for program in osslsigncode openssl; do
  printf '#!/bin/sh\nprintf "%%s\\n" "%s $*" >>"%s"\nexec %s "$@"\n' \
    "$program" "$folder/command-lines" "$(command -v "$program")" >"$folder/recorded/$program"
  chmod +x "$folder/recorded/$program"
done
PATH=$folder/recorded:$PATH release "$out" token "${token[@]}" QV_SIGN_PIN_FILE="$folder/pin" \
  QV_TIMESTAMP_URL="$timestamp_url" QV_SIGN_INSTALLER="$incoming" || { cat "$folder/token.log"; exit 1; }
cat "$folder/token.log"
signed=$out/QuorvaneSetup.exe

verify() {
  osslsigncode verify -in "$1" -CAfile "$2" -TSA-CAfile "$ca/ca.pem" >"$folder/verify-$(basename "$1").log" 2>&1
}
check "the signed file verifies with the test CA" verify "$signed" "$ca/ca.pem"
check "the signature is SHA-256" grep -q "Message digest algorithm  : SHA256" "$folder/verify-QuorvaneSetup.exe.log"
check "the signed file does not verify without the test CA" \
  bash -c "! osslsigncode verify -in '$signed' -CAfile /etc/ssl/certs/ca-certificates.crt >/dev/null 2>&1"
check "the full installer is signed and verifies" verify "$out/QuorvaneStandinInstaller.exe" "$ca/ca.pem"
for name in QuorvaneSetup.exe QuorvaneStandinInstaller.exe; do
  check "$name carries a timestamp whose chain verifies" \
    grep -q "^Timestamp Server Signature verification: ok" "$folder/verify-$name.log"
done
check "each file carries its own description" \
  test "$(grep -h 'Text description' "$folder"/verify-*.exe.log | tr -d '\t' | tr '\n' '|')" = \
  "Text description: 澜岫 在线安装器|Text description: 澜岫|"
check "the signing certificate's expiry is printed" \
  grep -q "signing certificate CN=Quorvane Software Test signer, valid until .* (89 days left)" "$folder/token.log"
check "SHA256SUMS names the three files" test "$(awk '{print $2}' "$out/SHA256SUMS" | tr '\n' ' ')" = \
  "QuorvaneSetup.exe QuorvaneSetup-unsigned.exe QuorvaneStandinInstaller.exe "
check "the signing command lines were seen" grep -q "^osslsigncode sign -pkcs11module" "$folder/command-lines"
check "the PIN shows in no output and on no command line" \
  bash -c "! grep -qF -- '$pin' '$folder/token.log' '$out/verify.log' '$folder/command-lines'"

tampered=$folder/tampered.exe
cp "$signed" "$tampered"
offset=$(( $(stat -c %s "$setup_exe") / 2 ))
byte=$(od -An -tu1 -j "$offset" -N1 "$tampered" | tr -d ' ')
printf "\\x$(printf %02x $(( byte ^ 1 )))" | dd of="$tampered" bs=1 seek="$offset" conv=notrunc status=none
check "a copy with one byte changed is refused" bash -c "! osslsigncode verify -in '$tampered' -CAfile '$ca/ca.pem' >/dev/null 2>&1"

osslsigncode remove-signature -in "$signed" -out "$folder/removed.exe" >/dev/null
check "without its signature the file is the unsigned build" cmp "$folder/removed.exe" "$setup_exe"
cp "$signed" "$folder/signed.exe"
cp -r "$out" "$folder/published"

# The published installer named again as the input, through another path:
# refused before anything changes, the release as it was.
check "an input that is a file the run replaces is refused" \
  refused "QV_SIGN_INSTALLER is $out/QuorvaneStandinInstaller.exe, which this run replaces" \
  "$out" replaced-input $(key_file signer) QV_TIMESTAMP_URL="$timestamp_url" \
  QV_SIGN_INSTALLER="$out/incoming/../QuorvaneStandinInstaller.exe"
check "the refused run leaves the release as it was" diff -r "$folder/published" "$out"

# The same release again into the same folder, now verified with the system's
# CAs, which do not hold the test CA: it fails, and neither the new files nor
# the earlier release's stay beside each other.
check "a release whose signature does not verify fails" \
  refused "the signature of QuorvaneSetup.exe does not verify" "$out" unverified $(key_file signer) \
  QV_TIMESTAMP_URL="$timestamp_url" QV_SIGN_INSTALLER="$incoming" QV_SIGN_CA_FILE=/etc/ssl/certs/ca-certificates.crt
check "a failed release leaves nothing publishable" nothing_publishable "$out"
check "the installer input inside the output folder survives both runs" cmp "$incoming" "$installer"

cp -r "$folder/published/." "$out"
check "a wrong PIN fails plainly" refused "release: the token refused the PIN: nothing was signed" \
  "$out" wrong-pin "${token[@]}" QV_SIGN_PIN_FILE="$folder/wrong-pin" QV_TIMESTAMP_URL="$timestamp_url" \
  QV_SIGN_INSTALLER="$incoming"
check "a wrong PIN leaves nothing publishable" nothing_publishable "$out"
check "the wrong PIN shows in none of the output" bash -c "! grep -qF -- '$(cat "$folder/wrong-pin")' '$folder/wrong-pin.log'"

other=$folder/other
# The choice of key and what may be published, refused before anything is built or changed.
check "both kinds of key are refused" refused "give one kind of key: QV_SIGN_PKCS12, or QV_SIGN_PKCS11_MODULE" \
  "$other" both-keys "${token[@]}" $(key_file signer) QV_TIMESTAMP_URL="$timestamp_url"
check "no key is refused" refused "name a key: QV_SIGN_PKCS11_MODULE with QV_SIGN_KEY_URI (a token)" \
  "$other" no-key QV_TIMESTAMP_URL="$timestamp_url"
check "a key URI that carries the PIN is refused" refused "QV_SIGN_KEY_URI carries the PIN" "$other" pin-in-uri \
  QV_SIGN_PKCS11_MODULE="$module" "QV_SIGN_KEY_URI=pkcs11:token=quorvane-test;object=signer;pin-value=$pin" \
  QV_SIGN_CERTS="$folder/chain.pem" QV_SIGN_PIN_FILE="$folder/pin" QV_TIMESTAMP_URL="$timestamp_url"
cp "$installer" "$folder/SHA256SUMS"
check "an installer named like a published file is refused" refused "the full installer may not be named SHA256SUMS" \
  "$other" reserved-name $(key_file signer) QV_TIMESTAMP_URL="$timestamp_url" QV_SIGN_INSTALLER="$folder/SHA256SUMS"
check "the refused runs changed nothing" test ! -e "$other"
check "a timestamp whose chain does not verify is refused" \
  refused "the signature of QuorvaneSetup.exe carries no timestamp whose chain verifies" "$other" untrusted-timestamp \
  $(key_file signer) QV_TIMESTAMP_URL="$timestamp_url" QV_TIMESTAMP_CA_FILE=/etc/ssl/certs/ca-certificates.crt
check "signing without a timestamp server is refused" \
  refused "QV_TIMESTAMP_URL names no RFC 3161 timestamp server" "$other" no-timestamp-url $(key_file signer)
check "an expired certificate is refused" \
  refused "release: the signing certificate CN=Quorvane Software Test expired expired on Feb  1 00:00:00 2025 GMT" \
  "$other" expired $(key_file expired) QV_TIMESTAMP_URL="$timestamp_url"
release "$other" no-timestamp $(key_file short-lived) QV_NO_TIMESTAMP=1 || true
check "QV_NO_TIMESTAMP=1 signs without a timestamp" verify "$other/QuorvaneSetup.exe" "$ca/ca.pem"
check "QV_NO_TIMESTAMP=1 warns that the signature dies with the certificate" \
  grep -q "warning: signing without a timestamp (QV_NO_TIMESTAMP=1): the signatures stop verifying on" \
  "$folder/no-timestamp.log"
check "a certificate with fewer than 30 days left is warned about" \
  grep -q "warning: the signing certificate expires in fewer than 30 days" "$folder/no-timestamp.log"
check "the signature really has no timestamp" grep -q "^Timestamp is not available" "$folder/verify-QuorvaneSetup.exe.log"
signed=$folder/signed.exe

# WinVerifyTrust in the project's prefix, where the test CA is trusted; the
# same file signed through a CA that the prefix does not trust shows whether
# Wine also checks the signer's chain.
"$repo_dir/tools/wine-run" "$trust_test_ca" "Z:${ca//\//\\}\\ca.pem" </dev/null
stranger=$folder/stranger
mkdir -p "$stranger"
openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 30 -keyout "$stranger/signer.key" -out "$stranger/signer.pem" \
  -subj "/CN=Untrusted Test Signer" -addext "extendedKeyUsage=codeSigning" 2>/dev/null
osslsigncode sign -certs "$stranger/signer.pem" -key "$stranger/signer.key" -h sha256 \
  -in "$setup_exe" -out "$stranger/QuorvaneSetup.exe" >/dev/null
answer() { "$repo_dir/tools/wine-run" "$verify_trust" "Z:${1//\//\\}" </dev/null 2>/dev/null | tr -d '\r' || true; }
signed_answer=$(answer "$signed")
tampered_answer=$(answer "$tampered")
unsigned_answer=$(answer "$setup_exe")
stranger_answer=$(answer "$stranger/QuorvaneSetup.exe")
echo "WinVerifyTrust under Wine: signed $signed_answer, one byte changed $tampered_answer," \
  "unsigned $unsigned_answer, signed by an untrusted CA $stranger_answer"
check "WinVerifyTrust accepts the signed file" test "$signed_answer" = 0x00000000
check "WinVerifyTrust finds the changed byte (TRUST_E_BAD_DIGEST)" test "$tampered_answer" = 0x80096010
check "WinVerifyTrust finds no signature on the unsigned build (TRUST_E_NOSIGNATURE)" \
  test "$unsigned_answer" = 0x800b0100

[ "$failures" -eq 0 ] || { echo "$failures signing checks failed"; exit 1; }
