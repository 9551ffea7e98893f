#!/usr/bin/env bash
# Signs the release executable and a full installer through tools/release.sh
# with a code-signing certificate from a test CA, then: osslsigncode with that
# CA accepts both, a copy with one byte changed is refused, and without its
# signature the setup is the unsigned build again. A second release whose
# verification fails leaves nothing publishable in the output folder. Then asks WinVerifyTrust under Wine, with the test CA
# trusted in the project's prefix only, and prints what Wine answers.
#   signing_test.sh BUILD_DIR SETUP_EXE VERIFY_TRUST_EXE TRUST_TEST_CA_EXE
set -euo pipefail
repo_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
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
openssl req -new -newkey rsa:2048 -nodes -keyout "$folder/signer.key" -out "$folder/signer.csr" \
  -subj "/CN=Quorvane Software Test Signer" 2>/dev/null
printf 'basicConstraints=critical,CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n' \
  > "$folder/signer.ext"
openssl x509 -req -in "$folder/signer.csr" -CA "$ca/ca.pem" -CAkey "$ca/ca.key" -set_serial "0x$(openssl rand -hex 8)" \
  -days 30 -sha256 -extfile "$folder/signer.ext" -out "$folder/signer.pem" 2>/dev/null
printf 'test password %s\n' "$RANDOM" > "$folder/password"
openssl pkcs12 -export -inkey "$folder/signer.key" -in "$folder/signer.pem" -certfile "$ca/ca.pem" \
  -passout "file:$folder/password" -out "$folder/signer.p12"

out=$folder/out
installer=$build_dir/tools/standins/QuorvaneStandinInstaller.exe
release() {  # CA file to verify with
  QV_BUILD_DIR=$build_dir QV_RELEASE_UNSIGNED=$setup_exe QV_SIGN_INSTALLER=$installer \
    QV_SIGN_PKCS12=$folder/signer.p12 QV_SIGN_PASSWORD_FILE=$folder/password QV_SIGN_CA_FILE=$1 \
    bash "$repo_dir/tools/release.sh" "$out"
}
release "$ca/ca.pem"
signed=$out/QuorvaneSetup.exe

verify() { osslsigncode verify -in "$1" -CAfile "$2" >"$folder/verify-$(basename "$1").log" 2>&1; }
check "the signed file verifies with the test CA" verify "$signed" "$ca/ca.pem"
check "the signature is SHA-256" grep -q "Message digest algorithm  : SHA256" "$folder/verify-QuorvaneSetup.exe.log"
check "the signed file does not verify without the test CA" \
  bash -c "! osslsigncode verify -in '$signed' -CAfile /etc/ssl/certs/ca-certificates.crt >/dev/null 2>&1"
check "the full installer is signed and verifies" verify "$out/QuorvaneStandinInstaller.exe" "$ca/ca.pem"
check "SHA256SUMS names the three files" test "$(awk '{print $2}' "$out/SHA256SUMS" | tr '\n' ' ')" = \
  "QuorvaneSetup.exe QuorvaneSetup-unsigned.exe QuorvaneStandinInstaller.exe "

tampered=$folder/tampered.exe
cp "$signed" "$tampered"
offset=$(( $(stat -c %s "$setup_exe") / 2 ))
byte=$(od -An -tu1 -j "$offset" -N1 "$tampered" | tr -d ' ')
printf "\\x$(printf %02x $(( byte ^ 1 )))" | dd of="$tampered" bs=1 seek="$offset" conv=notrunc status=none
check "a copy with one byte changed is refused" bash -c "! osslsigncode verify -in '$tampered' -CAfile '$ca/ca.pem' >/dev/null 2>&1"

osslsigncode remove-signature -in "$signed" -out "$folder/removed.exe" >/dev/null
check "without its signature the file is the unsigned build" cmp "$folder/removed.exe" "$setup_exe"

# The same release again into the same folder, now verified with the system's
# CAs, which do not hold the test CA: it fails, and neither the new files nor
# the earlier release's stay beside each other.
cp "$signed" "$folder/signed.exe"
unverified_release() { ! release /etc/ssl/certs/ca-certificates.crt >"$folder/unverified.log" 2>&1; }
check "a release whose signature does not verify fails" unverified_release
check "a failed release leaves nothing publishable" \
  test "$(ls -A "$out" | grep -v '^verify.log$' | tr '\n' ' ')" = ""
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
