#!/usr/bin/env python3
"""The maker's release tool (quorvane-release) on real files and against the
local HTTPS test server. A whole installation from manifests the tool wrote is
the end-to-end test (tests/e2e), whose release publish_release.py writes with it.

What the tool promises, and the check that holds it to each (function names):
  manifest, segments
  - write the manifest the clients read: the file's size and SHA-256, the
    version and address as given (check_written_manifests)
  - refuse, writing nothing: a version whose installer file name Windows cannot
    create, an address that is not HTTPS or not on a trusted domain, a database
    without its header, an empty installer or database, a text the installer's
    reader would read otherwise (check_refusals, check_writes)
  - never write over an input: the installer, a setup, the database, compared
    as files, so also through another name (check_writes)
  - --publisher-of for every setup offered, or --unsigned-setup, never both
    nor neither; each setup's judgement of the installer; --version left out
    is the installer's ProductVersion (check_publisher)
  - a temporary file beside the output, read back before the rename, so a
    failed write keeps the old manifest; a symbolic link written through and
    kept, one that leads nowhere refused; the old file's mode kept, a new one's
    from the umask, so the web server reads it (check_writes)
  check
  - each manifest from every address in the clients' order; one that fails,
    or differs in any field from the first that answers, fails (check_mirrors)
  - the installer and the database from each mirror: status, size, SHA-256,
    header; --publisher-of judges the first mirror's installer
    (check_mirrors, check_served_signature)
  - each address requested as written; at most 10 redirects of 301, 302, 303,
    307 and 308, each relative one resolved against the address just asked,
    never HTTPS to HTTP; the final address and any redirect off the trusted
    domains named; a body stopped past the manifest's size (check_mirrors,
    check_transfers)
  - a non-zero exit when any address would fail a client; an address and a
    file for the same manifest refused (check_mirrors, check_writes)

    release_tool_test.py TOOL
"""
import hashlib
import json
import os
import struct
import subprocess
import sys
import urllib.parse

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(os.path.dirname(HERE))
BUILD = os.environ["QV_BUILD_DIR"]
sys.path.insert(0, os.path.join(REPO, "tools", "testserver"))
import publish_release  # noqa: E402

TOOL = sys.argv[1]
ENDPOINTS = publish_release.endpoints(BUILD)
FOLDER = os.path.join(BUILD, "tests", "release", "tool")
failures = []


def run(*arguments, name_setup=True):
    """A manifest that names no setup is written for an unsigned development setup."""
    if name_setup and arguments[:1] == ("manifest",) and "--publisher-of" not in arguments:
        arguments = (*arguments, "--unsigned-setup")
    return subprocess.run([TOOL, *arguments], capture_output=True, text=True)


def expect(condition, description, detail=""):
    print(("ok: " if condition else "FAILED: ") + description)
    if not condition:
        failures.append(description)
        if detail:
            print("    " + detail.replace("\n", "\n    "))


def write(name, data):
    path = os.path.join(FOLDER, name)
    with open(path, "wb") as stream:
        stream.write(data)
    return path


def check_written_manifests():
    installer = os.urandom(300_000)
    installer_path = write("installer.exe", installer)
    database = publish_release.SEGMENT_MAGIC + os.urandom(50_000)
    database_path = write("segments.qvrdb", database)
    url = "https://files.quorvane.com/releases/QuorvaneSetup-2026.12.1.exe"
    result = run("manifest", "--installer", installer_path, "--version", "2026.12.1+build/7", "--url", url,
                 "--output", os.path.join(FOLDER, "m.json"))
    expect(result.returncode == 0, "the installer manifest is written", result.stderr)
    if result.returncode == 0:
        with open(os.path.join(FOLDER, "m.json"), encoding="utf-8") as stream:
            manifest = json.load(stream)
        expected = {"product": "Quorvane", "version": "2026.12.1+build/7",
                    "full_installer": {"url": url, "sha256": hashlib.sha256(installer).hexdigest(),
                                       "size": len(installer)}}
        expect(manifest == expected, "the installer manifest names the file's size and digest", str(manifest))

    url = "https://files.quorvane.cn/segments/20261202.qvrdb"
    result = run("segments", "--database", database_path, "--version", "20261202", "--url", url, "--rows", "4200",
                 "--output", os.path.join(FOLDER, "s.json"))
    expect(result.returncode == 0, "the segment manifest is written", result.stderr)
    if result.returncode == 0:
        with open(os.path.join(FOLDER, "s.json"), encoding="utf-8") as stream:
            manifest = json.load(stream)
        expected = {"version": "20261202", "format": "quorvane-segment-qvrdb-v1", "schema_version": 1, "rows": 4200,
                    "url": url, "sha256": hashlib.sha256(database).hexdigest()}
        expect(manifest == expected, "the segment manifest names the database's digest", str(manifest))
    return installer_path, database_path


def check_refusals(installer_path, database_path):
    headless_path = write("headless.qvrdb", b"QVRDB" + bytes(100))
    good_url = "https://files.quorvane.com/r/a"
    cases = [
        ("a version with *", ["manifest", "--installer", installer_path, "--version", "2026.*", "--url", good_url],
         'version "2026.*" gives the installer file name "QuorvaneSetup_2026.*.exe", which Windows cannot create'),
        ('a version with "', ["manifest", "--installer", installer_path, "--version", '1"2', "--url", good_url],
         "which Windows cannot create"),
        # "QuorvaneSetup_<version>.exe" at 256 UTF-16 units, the emoji counting two.
        ("a version giving a file name of 256 units",
         ["manifest", "--installer", installer_path, "--version", "\U0001F600" + "a" * 236, "--url", good_url],
         "which Windows cannot create"),
        ("a plain HTTP address", ["manifest", "--installer", installer_path, "--version", "1",
                                  "--url", "http://files.quorvane.com/r/a"],
         'address "http://files.quorvane.com/r/a" is not HTTPS'),
        ("an address off the trusted domains", ["segments", "--database", database_path, "--version", "1",
                                                "--rows", "1", "--url", "https://files.quorvane.com.example.org/a"],
         "is not on a trusted domain (quorvane.com, quorvane.cn, quorvane.net)"),
        ("a database without its header", ["segments", "--database", headless_path, "--version", "1", "--rows", "1",
                                           "--url", good_url],
         'does not begin with the 8-byte header "QVRDBE01"'),
        ("a segment version named like a key", ["segments", "--database", database_path, "--version", "url",
                                                "--rows", "1", "--url", good_url],
         'the installer\'s reader would read the segment manifest url as "quorvane-segment-qvrdb-v1"'),
        ("a segment version ending in a quoted key", ["segments", "--database", database_path,
                                                      "--version", '7"sha256', "--rows", "1", "--url", good_url],
         "the installer would refuse this segment manifest: 号段版本文件 sha256 字段无效"),
    ]
    for description, arguments, message in cases:
        output = os.path.join(FOLDER, "refused.json")
        if os.path.exists(output):
            os.remove(output)
        result = run(*arguments, "--output", output)
        expect(result.returncode == 1 and message in result.stderr and not os.path.exists(output),
               f"refuses {description}", f"exit {result.returncode}, stderr: {result.stderr.strip()}")
    result = run("manifest", "--installer", installer_path, "--version", "\U0001F600" + "a" * 235, "--url", good_url,
                 "--output", os.path.join(FOLDER, "longest.json"))
    expect(result.returncode == 0, "accepts a version giving a file name of 255 units", result.stderr)


def make_signer(name, subject, string_mask="utf8only"):
    """A self-signed code-signing certificate; string_mask "default" encodes
    the same subject text as a PrintableString instead of a UTF8String."""
    key, certificate, config = (os.path.join(FOLDER, name + suffix) for suffix in (".key", ".pem", ".cnf"))
    with open(config, "w") as stream:
        stream.write(f"[req]\ndistinguished_name=dn\nstring_mask={string_mask}\n[dn]\n")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", certificate,
                    "-subj", subject, "-days", "2", "-config", config, "-addext", "extendedKeyUsage=codeSigning"],
                   check=True, capture_output=True)
    return certificate, key


def signed_copy(source, name, signer):
    path = os.path.join(FOLDER, name)
    if os.path.exists(path):
        os.remove(path)
    subprocess.run(["osslsigncode", "sign", "-certs", signer[0], "-key", signer[1], "-h", "sha256",
                    "-in", source, "-out", path], check=True, capture_output=True)
    return path


def stamped_installer(version):
    """The stand-in installer whose version block names version, unsigned."""
    with open(os.path.join(BUILD, "tools", "standins", "QuorvaneStandinInstaller.exe"), "rb") as stream:
        installer = stream.read()
    return write(f"installer-{version}.exe", publish_release.make_installer.stamp_version(installer, version))


def padded_copy(source, name, count=4096):
    """A copy with count bytes appended inside its certificate table, the
    entry's length and the directory's size raised to match: the signature
    still covers the image, since its digest skips the table."""
    with open(source, "rb") as stream:
        data = bytearray(stream.read())
    header = struct.unpack_from("<I", data, 0x3C)[0]
    directories = header + 24 + (112 if struct.unpack_from("<H", data, header + 24)[0] == 0x20B else 96)
    offset, size = struct.unpack_from("<II", data, directories + 4 * 8)
    struct.pack_into("<I", data, directories + 4 * 8 + 4, size + count)
    struct.pack_into("<I", data, offset, struct.unpack_from("<I", data, offset)[0] + count)
    return write(name, bytes(data) + os.urandom(count))


def data_signed_copy(source, name, signer):
    """A copy whose certificate table holds a PKCS#7 signature of plain data in place of an Authenticode one:
    signed, but naming no image digest."""
    # 16 bytes: read as the wrong type, its length would pass for the tag of a SEQUENCE.
    content = write(name + ".content", b"no image digest!")
    signature = subprocess.run(["openssl", "smime", "-sign", "-binary", "-nodetach", "-outform", "DER", "-in", content,
                                "-signer", signer[0], "-inkey", signer[1]], check=True, capture_output=True).stdout
    with open(source, "rb") as stream:
        data = bytearray(stream.read())
    header = struct.unpack_from("<I", data, 0x3C)[0]
    directory = header + 24 + (112 if struct.unpack_from("<H", data, header + 24)[0] == 0x20B else 96) + 4 * 8
    offset = struct.unpack_from("<I", data, directory)[0]
    entry = struct.pack("<IHH", 8 + len(signature), 0x0200, 2) + signature
    entry += bytes(-len(entry) % 8)
    struct.pack_into("<I", data, directory + 4, len(entry))
    return write(name, bytes(data[:offset]) + entry)


def check_publisher():
    """--publisher-of runs the judgement of every signed setup named: the
    installer signed by the same identity (C, O, CN, whatever the encoding and
    the other attributes), in a certificate table of one signature that covers
    it, its ProductVersion the version and its fixed version at least each
    setup's floor. Returns the setups and an installer padded inside its table."""
    publisher = make_signer("publisher", "/CN=Quorvane Test Publisher/O=Quorvane")
    # The renewal: a new key, ST and L added, the same texts as PrintableString.
    renewal = make_signer("renewal", "/ST=Shanghai/L=Shanghai/O=Quorvane/CN=Quorvane Test Publisher", "default")
    built_setup = os.path.join(BUILD, "ui", "QuorvaneSetup.exe")
    setups = [signed_copy(built_setup, "setup-signed.exe", publisher),
              signed_copy(built_setup, "setup-renewed.exe", renewal)]
    installer = stamped_installer("2026.12.1")
    # One byte changed in the signed bytes, and one in the signer's signature
    # value, which ends the signature at the end of the file.
    for name, offset in (("changed.exe", os.path.getsize(installer) // 2), ("forged.exe", -20)):
        with open(signed_copy(installer, name, publisher), "r+b") as stream:
            stream.seek(offset, os.SEEK_SET if offset >= 0 else os.SEEK_END)
            byte = stream.read(1)[0]
            stream.seek(-1, os.SEEK_CUR)
            stream.write(bytes([byte ^ 1]))
    padded = padded_copy(signed_copy(installer, "signed.exe", publisher), "padded.exe")
    setup = setups[0]
    refusal = 'the setup "%s" would refuse it with ' % setup
    cases = [
        ("the setups' own certificate", signed_copy(installer, "same.exe", publisher), "2026.12.1", ""),
        ("the renewed certificate", signed_copy(installer, "renewed.exe", renewal), "2026.12.1", ""),
        ("another organisation of the same CN",
         signed_copy(installer, "other.exe", make_signer("other", "/CN=Quorvane Test Publisher/O=Another")),
         "2026.12.1", 'is signed by O=Another, CN=Quorvane Test Publisher, the setup by O=Quorvane, '
         'CN=Quorvane Test Publisher: ' + refusal + '"安装包发布者与安装程序不一致"'),
        ("no signature", installer, "2026.12.1", 'is unsigned: ' + refusal + '"安装包数字签名无效"'),
        ("one byte changed after signing", os.path.join(FOLDER, "changed.exe"), "2026.12.1",
         'has changed since it was signed: ' + refusal + '"安装包数字签名无效"'),
        ("a changed signature value", os.path.join(FOLDER, "forged.exe"), "2026.12.1",
         "carries a signature that does not verify"),
        ("a signature of plain data", data_signed_copy(os.path.join(FOLDER, "signed.exe"), "data.exe", publisher),
         "2026.12.1", "has a signature without an image digest"),
        ("bytes appended inside its certificate table", padded, "2026.12.1",
         "has a certificate table that holds more than its one Authenticode signature: " + refusal +
         '"安装包数字签名无效"'),
        ("a ProductVersion other than --version", os.path.join(FOLDER, "same.exe"), "2026.12.2",
         'has the ProductVersion "2026.12.1", not the version "2026.12.2": ' + refusal + '"安装包版本与安装信息不一致"'),
        ("a version below the setup's floor",
         signed_copy(stamped_installer("2025.1.0"), "old.exe", publisher), "2025.1.0",
         "is version 2025.1.0.0, below 2026.12.0.0, the lowest that the setup runs: " + refusal +
         '"安装包版本低于本安装程序支持的最低版本"'),
    ]
    output = os.path.join(FOLDER, "publisher.json")
    for description, path, version, refusal in cases:
        if os.path.exists(output):
            os.remove(output)
        result = run("manifest", "--installer", path, "--publisher-of", setups[0], "--publisher-of", setups[1],
                     "--version", version, "--url", "https://files.quorvane.com/r/a.exe", "--output", output)
        if refusal:
            expect(result.returncode == 1 and refusal in result.stderr and not os.path.exists(output),
                   f"--publisher-of refuses an installer with {description}", result.stderr)
        else:
            expect(result.returncode == 0 and "publisher O=Quorvane, CN=Quorvane Test Publisher" in result.stdout
                   and f"setup {setups[1]}: signed by O=Quorvane, CN=Quorvane Test Publisher, runs installers "
                   "from version 2026.12.0.0" in result.stdout,
                   f"--publisher-of of both setups accepts an installer signed with {description}",
                   result.stdout + result.stderr)
    result = run("manifest", "--installer", os.path.join(FOLDER, "same.exe"), "--publisher-of", setup,
                 "--url", "https://files.quorvane.com/r/a.exe", "--output", output)
    with open(output, encoding="utf-8") as stream:
        taken = json.load(stream)["version"]
    expect(result.returncode == 0 and taken == "2026.12.1" and "version 2026.12.1 (the installer's ProductVersion)"
           in result.stdout, "without --version the installer's ProductVersion is the manifest's version",
           result.stdout + result.stderr)
    stranger = signed_copy(built_setup, "setup-stranger.exe", make_signer("stranger", "/CN=Another Publisher"))
    result = run("manifest", "--installer", os.path.join(FOLDER, "same.exe"), "--publisher-of", setup,
                 "--publisher-of", stranger, "--version", "2026.12.1", "--url", "https://files.quorvane.com/r/a.exe",
                 "--output", output)
    expect(result.returncode == 1 and f'the setup "{stranger}" would refuse it with "安装包发布者与安装程序不一致"'
           in result.stderr, "a second setup of another publisher is judged too", result.stderr)
    result = run("manifest", "--installer", os.path.join(FOLDER, "same.exe"), "--publisher-of", installer,
                 "--version", "2026.12.1", "--url", "https://files.quorvane.com/r/a.exe", "--output", output)
    expect(result.returncode == 1 and f'"{installer}" is unsigned: name the signed setups' in result.stderr,
           "an unsigned setup named with --publisher-of is refused", result.stderr)
    os.remove(output)
    result = run("manifest", "--installer", installer, "--version", "1", "--url", "https://files.quorvane.com/r/a.exe",
                 "--output", output, name_setup=False)
    expect(result.returncode == 2 and "name every setup still offered with --publisher-of SETUP, or give "
           "--unsigned-setup" in result.stderr and not os.path.exists(output),
           "a manifest is refused without --publisher-of or --unsigned-setup", result.stderr)
    result = run("manifest", "--installer", installer, "--version", "1", "--url", "https://files.quorvane.com/r/a.exe",
                 "--output", output)
    expect(result.returncode == 0 and result.stdout.rstrip().endswith("publisher unsigned"),
           "with --unsigned-setup the installer's signer is shown", result.stdout + result.stderr)
    return setups, padded


def run_check(*arguments):
    try:
        result = subprocess.run([TOOL, "check", *arguments, "--proxy", f"http://127.0.0.1:{ENDPOINTS['proxy_port']}",
                                 "--cacert", os.path.join(BUILD, "testserver", "ca", "ca.pem")],
                                capture_output=True, text=True, timeout=120)
    except subprocess.TimeoutExpired as timeout:
        result = subprocess.CompletedProcess(timeout.cmd, -1, timeout.stdout or "", "still running after 120 s")
    print(result.stdout + result.stderr)
    return result, result.stdout.splitlines()


def line(lines, what, host):
    return next((text for text in lines if text.startswith(what) and f"//{host}/" in text.split("  -> ")[0]), "")


def request_records(control, contains, connect):
    """The requests that reached the server through a tunnel to connect."""
    query = urllib.parse.urlencode({"contains": contains})
    with control.opener.open(f"{control.base}/requests?{query}", timeout=60) as response:
        records = response.read().decode("utf-8").split("\nend")
    return [record.strip().splitlines() for record in records if f"\nconnect {connect}\n" in "\n" + record + "\n"]


def request_paths(control, contains, connect):
    return [field[len("path "):] for record in request_records(control, contains, connect)
            for field in record if field.startswith("path ")]


def check_mirrors(control, installer_path, database_path):
    """A release whose installer is good on .com, an older file of the same size
    on .cn and missing on .net, at an address with a fragment, dot segments and
    an escaped slash; the database is good everywhere. Checked first from the
    manifests on disk, then published, with an older installer manifest on the
    .cn fallback, then with every address fixed."""
    control.serve_file("tool-installer", installer_path)
    control.serve_bytes("tool-installer-stale", os.urandom(os.path.getsize(installer_path)))
    control.serve_file("tool-segments", database_path)
    rules = "/hosts/tool-mirrors"
    # WinHTTP follows no 300 with a Location: it is the answer.
    control.put(rules, json.dumps({"files.quorvane.com": "blob=tool-installer",
                                   "files.quorvane.cn": "blob=tool-installer-stale",
                                   "files.quorvane.net": "status=300,header=Location:https://files.quorvane.net"
                                                         "/x/blob=tool-installer/QuorvaneSetup.exe"}).encode())
    installer_tail = "/x/hosts=tool-mirrors/tool-exact/a%2Fb/../QuorvaneSetup-2026.12.1.exe?v=1#part"
    installer_manifest = os.path.join(FOLDER, "check-m.json")
    old_manifest = os.path.join(FOLDER, "check-m-old.json")
    segment_manifest = os.path.join(FOLDER, "check-s.json")
    written = [run("manifest", "--installer", installer_path, "--version", "2026.12.1",
                   "--url", "https://files.quorvane.com" + installer_tail, "--output", installer_manifest),
               run("manifest", "--installer", installer_path, "--version", "2026.12.0",
                   "--url", "https://files.quorvane.com" + installer_tail, "--output", old_manifest),
               run("segments", "--database", database_path, "--version", "20261202", "--rows", "9",
                   "--url", "https://files.quorvane.net/x/blob=tool-segments/segments/20261202.qvrdb",
                   "--output", segment_manifest)]
    expect(all(result.returncode == 0 for result in written), "the release to check is written",
           "".join(result.stderr for result in written))

    result, lines = run_check("--manifest-file", installer_manifest, "--segment-manifest-file", segment_manifest)
    size = os.path.getsize(installer_path)
    expect(result.returncode == 1 and lines[-1:] == ["2 of 6 addresses would fail a client"]
           and lines[0].split() == ["installer", "manifest", "file", installer_manifest],
           "check with the manifests on disk finds the stale and the missing mirror before publishing")
    expect(line(lines, "installer ", "files.quorvane.com").split()[1:8] ==
           ["ok", "status", "200", "size", str(size), "of", str(size)], "the good mirror passes")
    expect("FAIL" in line(lines, "installer ", "files.quorvane.cn")
           and "sha256 differs" in line(lines, "installer ", "files.quorvane.cn"), "the stale mirror fails its digest")
    expect(line(lines, "installer ", "files.quorvane.net").endswith("  (status 300)"),
           "a 300 with a Location is not followed and fails with its status")
    expect(all(" ok " in line(lines, "segment database", host)
               for host in ("files.quorvane.com", "files.quorvane.cn", "files.quorvane.net")),
           "the database passes on every mirror")
    paths = {host: request_paths(control, "tool-exact", host + ":443")
             for host in ("files.quorvane.com", "files.quorvane.cn", "files.quorvane.net")}
    expect(all(found == [installer_tail] for found in paths.values()),
           "each mirror is asked for the path exactly as written, as clients ask for it", str(paths))
    headers = [field for field in request_records(control, "tool-exact", "files.quorvane.com:443")[0]
               if field.startswith("header ")]
    expect(all(header in headers for header in ("header User-Agent: QuorvaneOnlineSetup/1.0",
                                                "header X-Qvr-Request: online-installer-package",
                                                "header Accept-Encoding: gzip, deflate")),
           "the request carries the clients' headers", str(headers))

    control.serve_file("tool-manifest", installer_manifest)
    control.serve_file("tool-manifest-old", old_manifest)
    control.serve_file("tool-segment-manifest", segment_manifest)
    manifest_rules = "/hosts/tool-manifests"
    control.put(manifest_rules, json.dumps({"update.quorvane.cn": "blob=tool-manifest-old",
                                            "*": "blob=tool-manifest"}).encode())
    published = ["--manifest", "https://update.quorvane.com/x/hosts=tool-manifests/app/m.json",
                 "--segment-manifest", "https://update.quorvane.com/x/blob=tool-segment-manifest/s.json"]
    result, lines = run_check(*published)
    expect(result.returncode == 1 and lines[-1:] == ["3 of 12 addresses would fail a client"],
           "check of the published release counts every manifest address and mirror")
    expect(" ok " in line(lines, "installer manifest", "update.quorvane.com")
           and "(clients on this address would install version 2026.12.0)"
           in line(lines, "installer manifest", "update.quorvane.cn")
           and " ok " in line(lines, "installer manifest", "update.quorvane.net"),
           "an older installer manifest on a fallback domain fails")

    # .cn now redirects with each status WinHTTP follows, each relative to the address just asked for.
    chain = ((301, "sub/one"), (302, "two"), (303, "/x/hosts=tool-mirrors/three"), (307, "four?v=2"), (308, "five"))
    control.put(rules, json.dumps({"files.quorvane.cn": [f"status={status},header=Location:{location}"
                                                         for status, location in chain]
                                                        + ["blob=tool-installer"],
                                   "*": "blob=tool-installer"}).encode())
    control.put(manifest_rules, json.dumps({"*": "blob=tool-manifest"}).encode())
    result, lines = run_check(*published)
    expect(result.returncode == 0 and lines[-1:] == ["all 12 addresses serve the release"],
           "check passes once every address serves the release")
    followed = request_paths(control, "hosts=tool-mirrors", "files.quorvane.cn:443")[-6:]
    expect(line(lines, "installer ", "files.quorvane.cn").endswith(
        "-> https://files.quorvane.cn/x/hosts=tool-mirrors/five") and followed[1:] == [
            "/x/hosts=tool-mirrors/tool-exact/sub/one", "/x/hosts=tool-mirrors/tool-exact/sub/two",
            "/x/hosts=tool-mirrors/three", "/x/hosts=tool-mirrors/four?v=2", "/x/hosts=tool-mirrors/five"],
        "relative redirects of 301, 302, 303, 307 and 308 lead from the address just asked, and the final address "
        "is shown", str(followed))

    # The first address fails and the second answers: the third is held against the second, in every field.
    relabelled = os.path.join(FOLDER, "check-m-relabelled.json")
    run("manifest", "--installer", write("relabelled.exe", os.urandom(1000)), "--version", "2026.12.1",
        "--url", "https://files.quorvane.com" + installer_tail, "--output", relabelled)
    control.serve_file("tool-manifest-relabelled", relabelled)
    control.put(manifest_rules, json.dumps({"update.quorvane.com": "status=503",
                                            "update.quorvane.net": "blob=tool-manifest-relabelled",
                                            "*": "blob=tool-manifest"}).encode())
    result, lines = run_check(*published)
    expect(result.returncode == 1 and lines[-1:] == ["2 of 12 addresses would fail a client"]
           and line(lines, "installer manifest", "update.quorvane.com").endswith("(status 503)")
           and " ok " in line(lines, "installer manifest", "update.quorvane.cn")
           and "(clients on this address would install version 2026.12.1)"
           in line(lines, "installer manifest", "update.quorvane.net")
           and " ok " in line(lines, "installer ", "files.quorvane.com"),
           "a manifest of the same version for another file fails against the first address that answers")


def check_transfers(control, installer_path, database_path):
    """Redirects and bodies as clients meet them: on files.quorvane.com a
    redirect loop, on .cn a redirect to HTTP, on .net a redirect to another
    host that sends a body without end; the database behind a certificate
    from a CA that nobody trusts."""
    control.route("/tool-odd", "hosts=tool-odd")
    control.put("/hosts/tool-odd", json.dumps({"files.quorvane.com": "redirect=https",
                                               "files.quorvane.cn": "redirect=http",
                                               "files.quorvane.net": "redirect=https,to=localhost",
                                               "*": "endless"}).encode())
    installer_manifest = os.path.join(FOLDER, "odd-m.json")
    segment_manifest = os.path.join(FOLDER, "odd-s.json")
    written = [run("manifest", "--installer", installer_path, "--version", "1",
                   "--url", "https://files.quorvane.com/tool-odd", "--output", installer_manifest),
               run("segments", "--database", database_path, "--version", "1", "--rows", "1",
                   "--url", f"https://files.quorvane.com:{ENDPOINTS['unknown_ca_port']}/x/blob=tool-segments/s",
                   "--output", segment_manifest)]
    expect(all(result.returncode == 0 for result in written), "the odd release is written",
           "".join(result.stderr for result in written))
    result, lines = run_check("--manifest-file", installer_manifest, "--segment-manifest-file", segment_manifest)
    expect(result.returncode == 1 and lines[-2:] == ["1 of 6 addresses redirect off the trusted domains",
                                                     "6 of 6 addresses would fail a client"],
           "check fails every odd address")
    loop = request_paths(control, "tool-odd", "files.quorvane.com:443")
    expect("(more than 10 redirects: clients give up)" in line(lines, "installer ", "files.quorvane.com")
           and len(loop) == 11, "a redirect loop stops after 10 redirects", f"{len(loop)} requests")
    expect("no HTTPS address: clients refuse it" in line(lines, "installer ", "files.quorvane.cn")
           and request_paths(control, "tool-odd", f"127.0.0.1:{ENDPOINTS['http_port']}") == [],
           "a redirect from HTTPS to HTTP fails without asking the HTTP address")
    outside = line(lines, "installer ", "files.quorvane.net")
    expect("-> https://localhost/tool-odd" in outside
           and "(redirected off the trusted domains to https://localhost/tool-odd)" in outside,
           "a redirect to another host is reported with the final address")
    whole = f"size {os.path.getsize(installer_path)} of"
    expect("(larger than the manifest's size)" in outside and whole not in outside,
           "a body without end stops at the manifest's size")
    expect(all("FAIL" in line(lines, "segment database", f"{host}:{ENDPOINTS['unknown_ca_port']}")
               and "certificate" in line(lines, "segment database", f"{host}:{ENDPOINTS['unknown_ca_port']}")
               for host in ("files.quorvane.com", "files.quorvane.cn", "files.quorvane.net")),
           "a mirror whose certificate comes from an unknown CA fails")


def check_served_signature(control, setups, padded, database_path):
    """check --publisher-of judges the installer that the first mirror serves
    as each setup judges it: the padded one fails there, a good one passes."""
    # The body's last byte comes alone after a pause: the installer judged is the whole body.
    size = os.path.getsize(os.path.join(FOLDER, "same.exe"))
    control.put("/hosts/tool-signed", json.dumps({"*": f"blob=tool-signed,stall=300,stallat={size - 1}"}).encode())
    segment_manifest = os.path.join(FOLDER, "signed-s.json")
    run("segments", "--database", database_path, "--version", "1", "--rows", "1",
        "--url", "https://files.quorvane.com/x/blob=tool-segments/s", "--output", segment_manifest)
    for description, installer, summary in (
            ("bytes appended inside its certificate table", padded, "1 of 6 addresses would fail a client"),
            ("a good signature", os.path.join(FOLDER, "same.exe"), "all 6 addresses serve the release")):
        control.serve_file("tool-signed", installer)
        manifest = os.path.join(FOLDER, "signed-m.json")
        run("manifest", "--installer", installer, "--version", "2026.12.1",
            "--url", "https://files.quorvane.com/x/hosts=tool-signed/i.exe", "--output", manifest)
        result, lines = run_check("--manifest-file", manifest, "--segment-manifest-file", segment_manifest,
                                  "--publisher-of", setups[0], "--publisher-of", setups[1])
        first = line(lines, "installer ", "files.quorvane.com")
        judged = ("FAIL" in first and "(the installer served here has a certificate table that holds more than its "
                  "one Authenticode signature" in first) if installer == padded else " ok " in first
        expect(lines[-1:] == [summary] and judged,
               f"check --publisher-of judges the first mirror's installer with {description}", first)


def check_writes(installer_path, database_path, setup):
    """Nothing but a whole, verified manifest ever replaces the old one, with
    the old one's mode, and never over its own input; the small refusals a
    maker meets first."""
    output = os.path.join(FOLDER, "atomic.json")
    url = "https://files.quorvane.com/r/a.exe"
    run("manifest", "--installer", installer_path, "--version", "1", "--url", url, "--output", output)
    with open(output, "rb") as stream:
        old = stream.read()
    environment = dict(os.environ, LD_PRELOAD=os.path.join(os.path.dirname(TOOL), "damage-write.so"))
    result = subprocess.run([TOOL, "manifest", "--installer", installer_path, "--version", "2", "--url", url,
                             "--unsigned-setup", "--output", output], capture_output=True, text=True, env=environment)
    with open(output, "rb") as stream:
        kept = stream.read() == old
    left = [name for name in os.listdir(FOLDER) if name.startswith("atomic.json.")]
    expect(result.returncode == 1 and "reads back otherwise than written" in result.stderr and kept and not left,
           "a write that reads back otherwise leaves the old manifest and no temporary file",
           f"exit {result.returncode}, {result.stderr.strip()}, old kept: {kept}, left: {left}")

    # Through a symbolic link the file it leads to is replaced and the link
    # stays; a link that leads nowhere is refused.
    link = os.path.join(FOLDER, "link.json")
    for name in (link, os.path.join(FOLDER, "dangling.json")):
        if os.path.lexists(name):
            os.remove(name)
    os.symlink("atomic.json", link)
    os.symlink("missing/none.json", os.path.join(FOLDER, "dangling.json"))
    result = run("manifest", "--installer", installer_path, "--version", "3", "--url", url, "--output", link)
    with open(output, encoding="utf-8") as stream:
        followed = json.load(stream)["version"] == "3"
    expect(result.returncode == 0 and os.path.islink(link) and followed
           and f'"{link}" is a symbolic link: writing "{output}"' in result.stdout,
           "an output that is a symbolic link is written through it, said so, and stays a link", result.stdout)
    result = run("manifest", "--installer", installer_path, "--version", "3", "--url", url,
                 "--output", os.path.join(FOLDER, "dangling.json"))
    expect(result.returncode == 1 and "is a symbolic link to a file that does not exist" in result.stderr
           and not os.path.exists(os.path.join(FOLDER, "missing")), "a symbolic link that leads nowhere is refused",
           result.stderr)

    # The web server reads the new manifest as it read the old one; a new one
    # is as readable as the umask allows, not the owner's alone.
    os.chmod(output, 0o604)
    replaced = run("manifest", "--installer", installer_path, "--version", "4", "--url", url, "--output", output)
    kept_mode = os.stat(output).st_mode & 0o7777
    fresh = os.path.join(FOLDER, "fresh.json")
    if os.path.exists(fresh):
        os.remove(fresh)
    created = subprocess.run([TOOL, "manifest", "--installer", installer_path, "--version", "4", "--url", url,
                              "--unsigned-setup", "--output", fresh], capture_output=True, text=True, umask=0o027)
    fresh_mode = os.stat(fresh).st_mode & 0o7777 if os.path.exists(fresh) else None
    expect(replaced.returncode == 0 and created.returncode == 0 and kept_mode == 0o604 and fresh_mode == 0o640,
           "a replaced manifest keeps the old file's mode and a new one takes the umask's",
           f"replaced {oct(kept_mode)}, new {fresh_mode and oct(fresh_mode)}: {replaced.stderr}{created.stderr}")

    # Each input, named through another path or a hard link of another name.
    setup_link = os.path.join(FOLDER, "setup-link.json")
    database_link = os.path.join(FOLDER, "database-link.json")
    for link, target in ((setup_link, setup), (database_link, database_path)):
        if os.path.exists(link):
            os.remove(link)
        os.link(target, link)
    inputs = [(installer_path, ["manifest", "--installer", installer_path, "--version", "1", "--url", url,
                                "--output", os.path.join(FOLDER, ".", os.path.basename(installer_path))]),
              (setup, ["manifest", "--installer", os.path.join(FOLDER, "same.exe"), "--publisher-of", setup,
                       "--version", "2026.12.1", "--url", url, "--output", setup_link]),
              (database_path, ["segments", "--database", database_path, "--version", "1", "--rows", "1",
                               "--url", url, "--output", database_link])]
    for path, arguments in inputs:
        with open(path, "rb") as stream:
            before = stream.read()
        result = run(*arguments)
        with open(path, "rb") as stream:
            unchanged = stream.read() == before
        expect(result.returncode == 1 and "is the input file" in result.stderr and unchanged,
               f"an output that is the input {os.path.basename(path)} is refused and the input is unchanged",
               result.stderr)

    empty = write("empty.exe", b"")
    segments = ["segments", "--database", database_path, "--version", "1", "--url", url, "--output", output]
    cases = [
        ("--help", [], 0, "usage:"),
        ("an empty installer", ["manifest", "--installer", empty, "--version", "1", "--url", url, "--output", output],
         1, f'the installer "{empty}" is empty'),
        ("an empty database", ["segments", "--database", empty, "--version", "1", "--rows", "1", "--url", url,
                               "--output", output], 1, f'the database "{empty}" is empty'),
        ("--unsigned-setup with --publisher-of", ["manifest", "--installer", installer_path, "--version", "1",
                                                  "--url", url, "--publisher-of", setup, "--unsigned-setup",
                                                  "--output", output],
         2, "--unsigned-setup and --publisher-of exclude each other"),
        ("--manifest with --manifest-file", ["check", "--manifest", "https://update.quorvane.com/m.json",
                                             "--manifest-file", output], 2,
         "--manifest and --manifest-file exclude each other"),
        ("--segment-manifest with --segment-manifest-file",
         ["check", "--segment-manifest", "https://update.quorvane.com/s.json", "--segment-manifest-file", output], 2,
         "--segment-manifest and --segment-manifest-file exclude each other"),
        ("a missing --rows", segments, 2, "--rows is missing"),
        ("--rows out of range", [*segments, "--rows", "99999999999999999999"], 2,
         '--rows takes a whole number from 1 to 18446744073709551615, not "99999999999999999999"'),
        ("--rows 0", [*segments, "--rows", "0"], 2, "--rows takes a whole number from 1 to"),
    ]
    for description, arguments, code, message in cases:
        result = run(*arguments) if arguments else run("--help")
        expect(result.returncode == code and message in result.stdout + result.stderr, f"answers {description}",
               f"exit {result.returncode}: {(result.stdout + result.stderr).strip()}")


def main():
    os.makedirs(FOLDER, exist_ok=True)
    installer_path, database_path = check_written_manifests()
    check_refusals(installer_path, database_path)
    setups, padded = check_publisher()
    check_writes(installer_path, database_path, setups[0])
    control = publish_release.Control(ENDPOINTS["control_port"])
    check_mirrors(control, installer_path, database_path)
    check_transfers(control, installer_path, database_path)
    check_served_signature(control, setups, padded, database_path)
    if failures:
        print(f"{len(failures)} release tool checks failed")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
