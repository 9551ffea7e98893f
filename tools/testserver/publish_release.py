#!/usr/bin/env python3
"""Publishes a product release on the running local test server, the way the
maker's servers would offer it: the installer manifest at the default address
(/app/quorvane-manifest.json), the installer, the segment manifest at its fixed
address (/segments/v2/segment-manifest.json) and the segment database.

    publish_release.py BUILD_DIR [--version V] [--segment-version V]
        [--exit-code N] [--run-ms N] [--installer-padding BYTES]
        [--rate BYTES_PER_SECOND] [--segment-size BYTES] [--broken]

The installer is the stand-in installer carrying the stand-in product; the
files are written to BUILD_DIR/release/ and served from there. Both manifests
are written by the maker's release tool (BUILD_DIR/release-tool/quorvane-release),
so every test that installs from this release also installs from what that
tool wrote. --broken makes every installer address answer 503 (publish again
without it to fix the server). Prints a JSON summary.
"""
import argparse
import hashlib
import json
import os
import subprocess
import sys
import urllib.parse
import urllib.request

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "standins"))
import make_installer  # noqa: E402

SEGMENT_MAGIC = b"QVRDBE01"
INSTALLER_ROUTE = "/app/quorvane-manifest.json"
SEGMENT_ROUTE = "/segments/v2/segment-manifest.json"


def endpoints(build_dir):
    values = {}
    with open(os.path.join(build_dir, "testserver", "endpoints.txt"), encoding="utf-8") as stream:
        for line in stream:
            name, _, value = line.strip().partition("=")
            if name:
                values[name] = value
    return values


class Control:
    def __init__(self, port):
        self.base = f"http://127.0.0.1:{port}"
        # The control endpoint is reached directly, never through a proxy.
        self.opener = urllib.request.build_opener(urllib.request.ProxyHandler({}))

    def put(self, path, body=b""):
        request = urllib.request.Request(self.base + path, data=body, method="PUT")
        with self.opener.open(request, timeout=60) as response:
            return response.read().decode("utf-8").strip()

    def request_count(self, contains):
        """How many requests so far had a target containing the text."""
        query = urllib.parse.urlencode({"contains": contains})
        with self.opener.open(f"{self.base}/requests?{query}", timeout=60) as response:
            return sum(line.startswith("request ") for line in response.read().decode("utf-8").splitlines())

    def serve_file(self, name, path):
        return self.put(f"/blob/{urllib.parse.quote(name)}?path={urllib.parse.quote(path)}")

    def serve_bytes(self, name, data):
        return self.put(f"/blob/{urllib.parse.quote(name)}", data)

    def route(self, path, directives):
        self.put(f"/route?path={urllib.parse.quote(path)}", directives.encode("utf-8"))


def release_tool(build_dir, *arguments):
    """Runs the release tool; its refusal fails the publication with its message."""
    tool = os.path.join(build_dir, "release-tool", "quorvane-release")
    result = subprocess.run([tool, *arguments], capture_output=True, text=True, timeout=120)
    if result.returncode != 0:
        raise RuntimeError(f"quorvane-release {arguments[0]} failed: {result.stderr.strip()}")


def write_segment_database(path, size, seed):
    block = hashlib.sha256(f"segments:{seed}".encode()).digest() * 2048
    with open(path, "wb") as stream:
        stream.write(SEGMENT_MAGIC)
        left = size - len(SEGMENT_MAGIC)
        while left > 0:
            piece = block[:left]
            stream.write(piece)
            left -= len(piece)


def publish(build_dir, version="2026.12.0", segment_version="20261201", exit_code=0, run_ms=0,
            installer_padding=0, rate=0, segment_size=1 << 20, broken=False, sign=None, publisher_of=(),
            installer_version=None):
    """sign, when given, is called with the installer's path before anything is served: it may sign the file
    (or change it) in place. publisher_of names the signed setups whose judgement the release tool applies to
    the installer before it writes the manifest; without them the manifest is written for an unsigned setup,
    also for an installer that a signed setup must refuse. The installer's version block names
    installer_version, by default the version that the manifest names."""
    control = Control(endpoints(build_dir)["control_port"])
    release = os.path.join(build_dir, "release")
    os.makedirs(release, exist_ok=True)
    standins = os.path.join(build_dir, "tools", "standins")
    with open(os.path.join(standins, "QuorvaneStandinInstaller.exe"), "rb") as stream:
        installer = stream.read()
    with open(os.path.join(standins, "QuorvaneStandinProduct.exe"), "rb") as stream:
        product = stream.read()
    # Padding inside the installer part makes a large installer without
    # changing what it installs. The whole is a multiple of 8 bytes, where a
    # signature starts without padding of its own, so that a signed stand-in
    # finds its trailer right before its signature.
    trailer = make_installer.trailer(len(product), exit_code, run_ms)
    installer_path = os.path.join(release, "QuorvaneSetup-full.exe")
    with open(installer_path, "wb") as stream:
        stream.write(make_installer.stamp_version(installer, installer_version or version))
        remaining = installer_padding + -(len(installer) + installer_padding + len(product) + len(trailer)) % 8
        zeros = bytes(1 << 20)
        while remaining > 0:
            stream.write(zeros[:remaining])
            remaining -= min(remaining, len(zeros))
        stream.write(product)
        stream.write(trailer)
    if sign:
        sign(installer_path)
    installer_sha = control.serve_file("release-installer", installer_path)
    installer_size = os.path.getsize(installer_path)

    database_path = os.path.join(release, "segments.qvrdb")
    write_segment_database(database_path, segment_size, segment_version)
    database_sha = control.serve_file("release-segments", database_path)

    pace = f",rate={rate}" if rate else ""
    status = ",status=503" if broken else ""
    installer_url = (f"https://files.quorvane.com/x/blob=release-installer{pace}{status}"
                     f"/releases/QuorvaneSetup-{version}.exe")
    database_url = f"https://files.quorvane.com/x/blob=release-segments/segments/{segment_version}.qvrdb"
    installer_manifest = os.path.join(release, "quorvane-manifest.json")
    setups = [argument for setup in publisher_of for argument in ("--publisher-of", setup)] or ["--unsigned-setup"]
    release_tool(build_dir, "manifest", "--installer", installer_path, "--version", version,
                 "--url", installer_url, *setups, "--output", installer_manifest)
    segment_manifest = os.path.join(release, "segment-manifest.json")
    release_tool(build_dir, "segments", "--database", database_path, "--version", segment_version,
                 "--url", database_url, "--rows", "4200", "--output", segment_manifest)
    control.serve_file("release-manifest", installer_manifest)
    control.serve_file("release-segment-manifest", segment_manifest)
    control.route(INSTALLER_ROUTE, "blob=release-manifest")
    control.route(SEGMENT_ROUTE, "blob=release-segment-manifest")
    return {"installer": installer_path, "installer_sha256": installer_sha, "installer_size": installer_size,
            "database": database_path, "database_sha256": database_sha, "version": version,
            "segment_version": segment_version}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build_dir")
    parser.add_argument("--version", default="2026.12.0")
    parser.add_argument("--segment-version", default="20261201")
    parser.add_argument("--exit-code", type=lambda text: int(text, 0), default=0)
    parser.add_argument("--run-ms", type=int, default=0)
    parser.add_argument("--installer-padding", type=int, default=0)
    parser.add_argument("--rate", type=int, default=0)
    parser.add_argument("--segment-size", type=int, default=1 << 20)
    parser.add_argument("--broken", action="store_true")
    arguments = parser.parse_args()
    summary = publish(arguments.build_dir, arguments.version, arguments.segment_version, arguments.exit_code,
                      arguments.run_ms, arguments.installer_padding, arguments.rate, arguments.segment_size,
                      arguments.broken)
    print(json.dumps(summary, indent=2))


if __name__ == "__main__":
    main()
