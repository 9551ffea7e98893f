#!/usr/bin/env bash
# Makes the test CA (kept between runs) and the server certificates (fresh at
# each start) under <build>/testserver. Nothing outside that folder is touched.
set -euo pipefail
folder=$1
ca=$folder/ca
certs=$folder/certs
mkdir -p "$ca" "$certs"

good_names="DNS:localhost,IP:127.0.0.1,DNS:quorvane.com,DNS:quorvane.cn,DNS:quorvane.net"
good_names+=",DNS:*.quorvane.com,DNS:*.quorvane.cn,DNS:*.quorvane.net"
good_names+=",DNS:update.quorvane.com,DNS:files.quorvane.com,DNS:files.quorvane.cn,DNS:files.quorvane.net"

new_ca() {  # folder, common name
  openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 3650 -keyout "$1/ca.key" -out "$1/ca.pem" \
    -subj "/CN=$2" -addext "basicConstraints=critical,CA:TRUE" \
    -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
}

if [ ! -f "$ca/ca.pem" ] || [ ! -f "$ca/ca.key" ]; then
  new_ca "$ca" "Quorvane Local Test CA"
fi
mkdir -p "$certs/unknown-ca-authority"
new_ca "$certs/unknown-ca-authority" "Unknown Test CA"

# openssl ca is the one openssl 3.0 command that takes explicit validity dates.
cat > "$certs/ca.cnf" <<CONF
[ca]
default_ca = test_ca
[test_ca]
database = $certs/index.txt
new_certs_dir = $certs
serial = $certs/serial
default_md = sha256
policy = any_policy
unique_subject = no
copy_extensions = none
[any_policy]
commonName = supplied
[server]
basicConstraints = critical,CA:FALSE
keyUsage = critical,digitalSignature,keyEncipherment
extendedKeyUsage = serverAuth
subjectAltName = \${ENV::QV_NAMES}
CONF

first_name() { local first=${1%%,*}; printf %s "${first#*:}"; }

issue() {  # name, authority folder, subject names, start date, end date
  local name=$1 authority=$2 names=$3
  : > "$certs/index.txt"
  printf '%s\n' "$(openssl rand -hex 8)" > "$certs/serial"
  openssl req -new -newkey rsa:2048 -nodes -keyout "$certs/$name.key" -out "$certs/$name.csr" \
    -subj "/CN=$(first_name "$names")" 2>/dev/null
  QV_NAMES=$names openssl ca -batch -notext -config "$certs/ca.cnf" -extensions server \
    -cert "$authority/ca.pem" -keyfile "$authority/ca.key" -in "$certs/$name.csr" \
    -out "$certs/$name.pem" -startdate "$4" -enddate "$5" 2>/dev/null
  rm -f "$certs/$name.csr" "$certs"/*.pem.old "$certs"/[0-9A-F]*.pem
}

later=$(date -u -d '+1 year' +%Y%m%d000000Z)
yesterday=$(date -u -d '-1 day' +%Y%m%d000000Z)
issue good "$ca" "$good_names" "$yesterday" "$later"
issue unknown-ca "$certs/unknown-ca-authority" "$good_names" "$yesterday" "$later"
issue wrong-host "$ca" "DNS:wrong-host.invalid" "$yesterday" "$later"
issue expired "$ca" "$good_names" 20200101000000Z 20210101000000Z
