#!/usr/bin/env python3
"""The measurements of bench/bench.sh, against baselines taken in the same run.

Expects what bench/bench.sh prepares: the build folder with the benchmark
programs, the project's Wine prefix, a display and the local HTTPS test server.
Prints one table and writes it to <build>/bench/results.md and results.json.
Every large file it makes lives in <build>/bench/ and is deleted at the end.
"""

import argparse
import json
import os
import re
import shutil
import signal
import statistics
import struct
import subprocess
import sys
import time
import urllib.request

MIB = 1 << 20
GIB = 1 << 30
INSTALLER_SWITCHES = ["/SP-", "/CURRENTUSER", "/VERYSILENT", "/SUPPRESSMSGBOXES", "/NORESTART",
                      "/CLOSEAPPLICATIONS"]
TRAILER_MAGIC = b"QVSTAND1"
SEGMENT_MAGIC = b"QVRDBE01"
SEGMENT_MANIFEST_PATH = "/segments/v2/segment-manifest.json"
RUN_LIMIT_S = 600
# The largest segment database the setup accepts; a longer one is refused.
SEGMENT_DATABASE_CAP = 256 * MIB


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def median(values):
    return statistics.median(values) if values else None


# A run that waits for its manifest, so that the worker starts as it would.
SLOW_MANIFEST = "/manifest=https://update.quorvane.com/x/delay=20000/bench/startup/quorvane-manifest.json"


class Failure(Exception):
    pass


class Bench:
    def __init__(self, repo, build, runs, install_runs, startup_runs, peak_maps=False):
        self.repo = repo
        self.build = build
        self.runs = runs
        self.install_runs = install_runs
        self.startup_runs = startup_runs
        self.peak_maps = peak_maps  # the memory map at each installation's peak, summed
        self.peak_maps_taken = []
        self.work = os.path.join(build, "bench")
        self.data = os.path.join(self.work, "data")
        self.wine_run = os.path.join(repo, "tools", "wine-run")
        self.ca = os.path.join(build, "testserver", "ca", "ca.pem")
        self.ports = self.read_endpoints()
        self.proxy = f"http://127.0.0.1:{self.ports['proxy_port']}"
        self.rows = []
        self.samples = {}
        self.load_at_start = os.getloadavg()[0]
        users = os.path.join(build, "wineprefix", "drive_c", "users")
        user = next(name for name in sorted(os.listdir(users)) if name not in ("Public", "Default"))
        self.profile = os.path.join(users, user)
        self.product_folder = os.path.join(self.profile, "AppData", "Local", "QuorvaneSoft", "QuorvaneX")
        self.product_record = os.path.join(self.product_folder, "Application", "product-started.txt")
        self.temp_folder = os.path.join(self.profile, "Temp")
        os.makedirs(self.data, exist_ok=True)

    # --- plumbing -----------------------------------------------------------

    def read_endpoints(self):
        ports = {}
        with open(os.path.join(self.build, "testserver", "endpoints.txt")) as stream:
            for line in stream:
                name, _, value = line.strip().partition("=")
                if value:
                    ports[name] = int(value)
        return ports

    def control(self, method, path, body=b""):
        request = urllib.request.Request(f"http://127.0.0.1:{self.ports['control_port']}{path}", data=body,
                                         method=method)
        with urllib.request.urlopen(request, timeout=600) as answer:
            return answer.read().decode()

    def serve_file(self, name, path):
        return self.control("PUT", f"/blob/{name}?path={urllib.request.quote(path)}").strip()

    def serve_bytes(self, name, data):
        return self.control("PUT", f"/blob/{name}", data).strip()

    def environment(self, proxied, extra=None):
        env = dict(os.environ)
        for name in ("http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "QV_BENCH_MARKS"):
            env.pop(name, None)
        env["QV_BUILD_DIR"] = self.build
        if proxied:
            env["http_proxy"] = self.proxy
        env.update(extra or {})
        return env

    def start_wine(self, arguments, proxied, extra=None, measured=True):
        """Output goes to files, so that a talkative program never blocks on a
        full pipe while it is being polled. A measured program runs under GNU
        time for its peak resident memory: the kernel's own count for a child
        of this process would start from this process's peak, because the
        child is spawned from this process's memory before it execs."""
        self.output = open(os.path.join(self.work, "wine-output.txt"), "w+b")
        self.peak_file = os.path.join(self.work, "wine-peak.txt")
        self.remove(self.peak_file)
        command = [self.wine_run] + arguments
        if measured:
            command = ["/usr/bin/time", "-f", "%M", "-o", self.peak_file] + command
        return subprocess.Popen(command, env=self.environment(proxied, extra), stdin=subprocess.DEVNULL,
                                stdout=self.output, stderr=subprocess.STDOUT)

    def reap(self, process, block):
        """(exit code, peak resident KiB or None) once the process has ended,
        else None. wine-run execs Wine, so an unmeasured process's pid is the
        Windows process itself."""
        pid, status, _ = os.wait4(process.pid, 0 if block else os.WNOHANG)
        if pid == 0:
            return None
        process.returncode = os.waitstatus_to_exitcode(status)
        peak = None
        if os.path.exists(self.peak_file):
            with open(self.peak_file) as stream:
                lines = stream.read().split()
            peak = int(lines[-1]) if lines and lines[-1].isdigit() else None
        return process.returncode, peak

    def stop(self, process):
        """Ends a program that overran its limit: the Windows process under
        GNU time first, then time itself."""
        try:
            with open(f"/proc/{process.pid}/task/{process.pid}/children") as stream:
                children = [int(pid) for pid in stream.read().split()]
        except OSError:
            children = []
        for child in children:
            os.kill(child, signal.SIGKILL)
        process.kill()
        self.reap(process, block=True)

    def wait_for_end(self, process, limit, failure):
        """(exit code, peak KiB) once the process has ended, and its memory map
        at the peak when asked for; stops it and fails after limit seconds."""
        deadline = time.monotonic() + limit
        peak_map = PeakMap(process.pid) if self.peak_maps else None
        while True:
            if peak_map:
                peak_map.sample()
            result = self.reap(process, block=False)
            if result is not None:
                return result, peak_map
            if time.monotonic() > deadline:
                self.stop(process)
                raise Failure(failure)
            time.sleep(0.005)

    def run_wine(self, arguments, proxied=False, extra=None, limit=RUN_LIMIT_S):
        """Runs a Windows program to its end; its output and peak resident KiB."""
        process = self.start_wine(arguments, proxied, extra)
        result, peak_map = self.wait_for_end(process, limit, f"{arguments[0]} did not end within {limit} s")
        self.output.seek(0)
        output = self.output.read().decode(errors="replace")
        self.output.close()
        self.last_peak_map = peak_map
        code, peak_kib = result
        if code != 0:
            raise Failure(f"{' '.join(arguments)} ended with {code}: {output.strip()[-400:]}")
        return output, peak_kib

    def curl(self, url, destination, proxied):
        command = ["curl", "-sS", "--fail", "--tlsv1.2", "--tls-max", "1.2", "--cacert", self.ca,
                   "-o", destination, "-w", "%{time_total} %{size_download}"]
        command += ["--proxy", self.proxy] if proxied else ["--noproxy", "*"]
        result = subprocess.run(command + [url], capture_output=True, text=True, timeout=RUN_LIMIT_S)
        if result.returncode != 0:
            raise Failure(f"curl {url}: {result.stderr.strip()}")
        seconds, size = result.stdout.split()
        return float(seconds), int(size)

    def sha256sum(self, path):
        result = subprocess.run(["sha256sum", path], capture_output=True, text=True, check=True)
        return result.stdout.split()[0]

    @staticmethod
    def fields(output):
        return dict(re.findall(r"(\w+)=(\S+)", output))

    def add(self, row):
        self.rows.append(row)
        print(f"   {row['item']}: {row['measure']}: {format_value(row['program'], row['unit'])}"
              f" vs {format_value(row['baseline'], row['unit'])}", flush=True)

    @staticmethod
    def remove(*paths):
        for path in paths:
            if os.path.isdir(path):
                shutil.rmtree(path, ignore_errors=True)
            elif os.path.lexists(path):
                os.remove(path)

    # --- files ----------------------------------------------------------------

    @staticmethod
    def write_filler(stream, count):
        """count bytes that no compression or deduplication could shorten much."""
        block = os.urandom(4 * MIB)
        while count > 0:
            piece = block[:min(count, len(block))]
            stream.write(piece)
            count -= len(piece)

    def make_installer(self, path, size):
        """bench-installer.exe + filler + product + trailer, size bytes in all:
        the product's installer that installs the stand-in product and exits."""
        with open(os.path.join(self.build, "bench-programs", "bench-installer.exe"), "rb") as stream:
            installer = stream.read()
        with open(os.path.join(self.build, "tools", "standins", "QuorvaneStandinProduct.exe"), "rb") as stream:
            product = stream.read()
        trailer = TRAILER_MAGIC + struct.pack("<QII", len(product), 0, 0)
        filler = size - len(installer) - len(product) - len(trailer)
        if filler < 0:
            raise Failure(f"an installer of {size} bytes cannot hold the stand-ins")
        with open(path, "wb") as stream:
            stream.write(installer)
            self.write_filler(stream, filler)
            stream.write(product)
            stream.write(trailer)

    def make_segments(self, path, size):
        with open(path, "wb") as stream:
            stream.write(SEGMENT_MAGIC)
            self.write_filler(stream, size - len(SEGMENT_MAGIC))

    # --- 1. download ------------------------------------------------------------

    def download(self):
        print("== 1. download throughput: 512 MiB, DownloadToFile vs curl", flush=True)
        size = 512 * MIB
        # Straight to the listener, no proxy on either side; "localhost" because
        # Wine's WinHTTP does not match a certificate's IP address entries.
        url = f"https://localhost:{self.ports['https_port']}/x/size={size},seed=11/bench/download.bin"
        target = os.path.join(self.data, "download.bin")
        times = {"program": [], "minimal": [], "posting": [], "curl": []}
        records = []
        peaks = {"program": [], "minimal": [], "posting": []}
        for _ in range(self.runs):
            for mode in ("program", "minimal", "posting"):
                output, peak = self.run_wine([os.path.join(self.build, "bench-programs", "bench-download.exe"),
                                              mode, url, windows_path(target)])
                values = self.fields(output)
                if int(values["bytes"]) != size or os.path.getsize(target) != size:
                    raise Failure(f"{mode} download delivered {values['bytes']} bytes")
                times[mode].append(float(values["seconds"]))
                peaks[mode].append(peak)
                if mode == "program":
                    records.append(int(values["records"]))
                self.remove(target)
            seconds, delivered = self.curl(url, target, proxied=False)
            if delivered != size:
                raise Failure(f"curl delivered {delivered} bytes")
            times["curl"].append(seconds)
            self.remove(target)
        rate = {mode: size / MIB / median(values) for mode, values in times.items()}
        self.samples["download_seconds"] = times
        self.samples["download_records"] = records
        self.samples["download_peak_kib"] = peaks
        self.add(dict(item="1", measure="download 512 MiB (MiB/s), DownloadToFile vs curl, TLS 1.2",
                      program=rate["program"], baseline=rate["curl"], unit="MiB/s",
                      ratio=rate["program"] / rate["curl"], target=">= 0.9", met=rate["program"] / rate["curl"] >= 0.9,
                      note=f"{median(records):.0f} records per download ({size / median(records) / 1024:.0f} KiB "
                           f"per read)"))
        self.add(dict(item="1w", measure="same, minimal WinHTTP program vs curl", program=rate["minimal"],
                      baseline=rate["curl"], unit="MiB/s", ratio=rate["minimal"] / rate["curl"], target="(Wine)",
                      met=None, note=f"DownloadToFile / minimal = {rate['program'] / rate['minimal']:.2f}"))
        self.add(dict(item="1p", measure="same, minimal WinHTTP program posting one record per read vs curl",
                      program=rate["posting"], baseline=rate["curl"], unit="MiB/s", ratio=rate["posting"] / rate["curl"],
                      target="(Wine)", met=None,
                      note=f"DownloadToFile / minimal posting = {rate['program'] / rate['posting']:.2f}"))

    # --- 2. digest ----------------------------------------------------------------

    def digest(self):
        print("== 2. digest throughput: 1 GiB, Sha256OfFile vs sha256sum, warm cache", flush=True)
        path = os.path.join(self.data, "digest.bin")
        with open(path, "wb") as stream:
            self.write_filler(stream, GIB)
        subprocess.run(["sync"], check=False)
        subprocess.run(["cat", path], stdout=subprocess.DEVNULL, check=True)  # into the page cache
        times = {"program": [], "minimal": [], "sha256sum": []}
        expected = None
        program = os.path.join(self.build, "bench-programs", "bench-digest.exe")
        for _ in range(self.runs):
            for mode in ("program", "minimal"):
                output, _ = self.run_wine([program, mode, windows_path(path)])
                values = self.fields(output)
                times[mode].append(float(values["seconds"]))
                if expected is not None and values["sha256"] != expected:
                    raise Failure(f"{mode} digest {values['sha256']} differs from sha256sum's {expected}")
            started = time.monotonic()
            expected = self.sha256sum(path)
            times["sha256sum"].append(time.monotonic() - started)
        self.remove(path)
        rate = {mode: 1024 / median(values) for mode, values in times.items()}
        self.samples["digest_seconds"] = times
        self.add(dict(item="2", measure="SHA-256 of 1 GiB (MiB/s), Sha256OfFile vs sha256sum", program=rate["program"],
                      baseline=rate["sha256sum"], unit="MiB/s", ratio=rate["program"] / rate["sha256sum"],
                      target=">= 0.8", met=rate["program"] / rate["sha256sum"] >= 0.8, note=""))
        self.add(dict(item="2w", measure="same, minimal CryptoAPI program vs sha256sum", program=rate["minimal"],
                      baseline=rate["sha256sum"], unit="MiB/s", ratio=rate["minimal"] / rate["sha256sum"],
                      target="(Wine)", met=None,
                      note=f"Sha256OfFile / minimal = {rate['program'] / rate['minimal']:.2f}"))

    # --- 2s. the verification step of a signed setup -----------------------------------

    def verification(self):
        print("== 2s. verification step: 512 MiB signed installer, SHA-256 alone vs SHA-256 + publisher check",
              flush=True)
        path = os.path.join(self.data, "signed-installer.exe")
        key, certificate = (os.path.join(self.data, name) for name in ("signer.key", "signer.pem"))
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-sha256", "-days", "2",
                        "-keyout", key, "-out", certificate, "-subj", "/CN=Quorvane Bench Signer",
                        "-addext", "extendedKeyUsage=codeSigning"], check=True, capture_output=True)
        self.make_installer(path + ".unsigned", 512 * MIB)
        subprocess.run(["osslsigncode", "sign", "-certs", certificate, "-key", key, "-h", "sha256",
                        "-in", path + ".unsigned", "-out", path], check=True, capture_output=True)
        self.remove(path + ".unsigned")
        subprocess.run(["cat", path], stdout=subprocess.DEVNULL, check=True)  # into the page cache
        program = os.path.join(self.build, "bench-programs", "bench-digest.exe")
        times = {"held": [], "signed": []}
        for _ in range(self.runs):
            for mode in times:
                output, _ = self.run_wine([program, mode, windows_path(path)])
                times[mode].append(float(self.fields(output)["seconds"]))
        self.remove(path, key, certificate)
        self.samples["verification_seconds"] = times
        digest, checked = median(times["held"]), median(times["signed"])
        self.add(dict(item="2s", measure="verification step of 512 MiB (s), with the publisher check vs SHA-256 alone",
                      program=checked, baseline=digest, unit="s", ratio=checked / digest, target="<= 2.0",
                      met=checked / digest <= 2.0,
                      note=f"the check costs {(checked - digest) / digest:.2f} SHA-256 passes: WinVerifyTrust "
                           "hashes the file once more"))

    # --- 3, 4, 7. whole installation --------------------------------------------------

    def prepare_release(self, label, installer_size, segments_size):
        """Serves an installer and a segment database of these sizes under the
        maker's names; returns the installer manifest's address and the files."""
        installer = os.path.join(self.data, f"{label}-installer.exe")
        segments = os.path.join(self.data, f"{label}-segments.qvrdb")
        self.make_installer(installer, installer_size)
        self.make_segments(segments, segments_size)
        installer_sha = self.serve_file(f"bench-{label}-installer", installer)
        segments_sha = self.serve_file(f"bench-{label}-segments", segments)
        installer_url = f"https://files.quorvane.com/x/blob=bench-{label}-installer/bench/{label}/QuorvaneFull.exe"
        segments_url = f"https://files.quorvane.com/x/blob=bench-{label}-segments/bench/{label}/segments.qvrdb"
        manifest = json.dumps({"product": "Quorvane", "version": f"9.{installer_size // MIB}.0",
                               "full_installer": {"url": installer_url, "sha256": installer_sha,
                                                  "size": installer_size}})
        segment_manifest = json.dumps({"version": f"{segments_size // MIB}", "format": "quorvane-segment-qvrdb-v1",
                                       "schema_version": 1, "rows": 4200, "url": segments_url,
                                       "sha256": segments_sha})
        self.serve_bytes(f"bench-{label}-manifest", manifest.encode())
        self.serve_bytes(f"bench-{label}-segman", segment_manifest.encode())
        self.control("PUT", f"/route?path={SEGMENT_MANIFEST_PATH}", f"blob=bench-{label}-segman".encode())
        return dict(label=label, manifest_url=f"https://update.quorvane.com/x/blob=bench-{label}-manifest/bench/"
                                              f"{label}/quorvane-manifest.json",
                    segment_manifest_url=f"https://update.quorvane.com{SEGMENT_MANIFEST_PATH}",
                    installer_url=installer_url, segments_url=segments_url, installer=installer, segments=segments,
                    installer_sha=installer_sha, segments_sha=segments_sha)

    def drop_release(self, release):
        self.remove(release["installer"], release["segments"])

    def clean_installation(self):
        """Nothing installed, nothing left over: every run downloads both files."""
        self.remove(self.product_folder, os.path.join(self.temp_folder, "QuorvaneOnlineSetup"),
                    os.path.join(self.temp_folder, "QuorvaneOnlineSetup-install.log"))

    def product_started_at(self):
        return os.stat(self.product_record).st_mtime if os.path.exists(self.product_record) else None

    def install_with_program(self, release, executable, marks=None):
        """Seconds from the start of QuorvaneSetup.exe to the product's start,
        and the installer process's peak resident memory in KiB."""
        self.clean_installation()
        extra = {"QV_BENCH_MARKS": windows_path(marks)} if marks else None
        started = time.time()
        process = self.start_wine([executable, "/manifest=" + release["manifest_url"]], proxied=True, extra=extra)
        result, peak_map = self.wait_for_end(process, RUN_LIMIT_S, "the installation did not end")
        if peak_map:
            self.peak_maps_taken.append((os.path.basename(executable), peak_map))
        launched = None
        for _ in range(500):  # the product may still be starting when the window has closed
            launched = self.product_started_at()
            if launched is not None:
                break
            time.sleep(0.01)
        if result[0] != 0 or launched is None:
            raise Failure(f"the installation with {os.path.basename(executable)} did not launch the product "
                          f"(exit code {result[0]})")
        return launched - started, result[1]

    def install_by_hand(self, release, fetch, digest):
        """The same work without the installer: each file fetched and digested
        by the given means, the installer run directly, the segment database
        moved into place, the product started. Seconds to the product's start."""
        self.clean_installation()
        folder = os.path.join(self.data, "by-hand")
        self.remove(folder)
        os.makedirs(folder)
        installer = os.path.join(folder, "QuorvaneFull.exe")
        segments = os.path.join(folder, "segments.qvrdb")
        started = time.time()
        fetch(release["manifest_url"], os.path.join(folder, "manifest.json"))
        fetch(release["installer_url"], installer)
        if digest(installer) != release["installer_sha"]:
            raise Failure("the installer fetched by hand has another digest")
        self.run_wine([windows_path(installer)] + INSTALLER_SWITCHES)
        fetch(release["segment_manifest_url"], os.path.join(folder, "segment-manifest.json"))
        fetch(release["segments_url"], segments)
        if digest(segments) != release["segments_sha"]:
            raise Failure("the segment database fetched by hand has another digest")
        os.replace(segments, os.path.join(self.product_folder, "segments.qvrdb"))
        self.run_wine([windows_path(os.path.join(self.product_folder, "Application", "Quorvane.exe"))])
        launched = self.product_started_at()
        self.remove(folder)
        if launched is None:
            raise Failure("the product did not start")
        return launched - started

    def install_with_tools(self, release):
        """The lower bound: curl and sha256sum."""
        return self.install_by_hand(release, lambda url, path: self.curl(url, path, proxied=True), self.sha256sum)

    def install_with_minimal_wine(self, release):
        """What Wine itself allows: the minimal WinHTTP program, posting one
        record per read as the installer must, and the minimal CryptoAPI one."""
        download = os.path.join(self.build, "bench-programs", "bench-download.exe")
        digest = os.path.join(self.build, "bench-programs", "bench-digest.exe")
        return self.install_by_hand(
            release,
            lambda url, path: self.run_wine([download, "posting", url, windows_path(path)], proxied=True),
            lambda path: self.fields(self.run_wine([digest, "minimal", windows_path(path)])[0])["sha256"])

    def installation(self):
        print("== 3. whole installation: 256 MiB installer, 128 MiB segment database", flush=True)
        release = self.prepare_release("install", 256 * MIB, 128 * MIB)
        setup = os.path.join(self.build, "ui", "QuorvaneSetup.exe")
        program, tools, minimal, peaks = [], [], [], []
        try:
            for _ in range(self.install_runs):
                seconds, peak = self.install_with_program(release, setup)
                program.append(seconds)
                peaks.append(peak)
                tools.append(self.install_with_tools(release))
                minimal.append(self.install_with_minimal_wine(release))
            self.samples["install_seconds"] = {"program": program, "tools": tools, "minimal": minimal}
            self.samples["install_peak_kib"] = peaks
            ratio = median(program) / median(tools)
            self.add(dict(item="3", measure="whole installation to product start (s), QuorvaneSetup.exe vs "
                                            "curl + sha256sum + installer + product",
                          program=median(program), baseline=median(tools), unit="s", ratio=ratio, target="<= 1.25",
                          met=ratio <= 1.25, note="files through the same CONNECT proxy for both"))
            self.add(dict(item="3w", measure="same, minimal WinHTTP (posting per read) and CryptoAPI programs vs the tools",
                          program=median(minimal), baseline=median(tools), unit="s",
                          ratio=median(minimal) / median(tools), target="(Wine)", met=None,
                          note=f"QuorvaneSetup.exe / minimal programs = {median(program) / median(minimal):.2f}"))
            self.repaints(release)
        finally:
            self.drop_release(release)
            self.clean_installation()

    def repaint_rate(self, release):
        """Paints per second of the marked build while the installer downloads,
        with the paints, the seconds and the records taken meanwhile."""
        marks = os.path.join(self.data, "install-marks.txt")
        self.remove(marks)
        self.install_with_program(release, os.path.join(self.build, "bench-programs", "QuorvaneSetupMarked.exe"),
                                  marks)
        paints = read_marks(marks)
        self.remove(marks)
        downloading = [paint for paint in paints if 20 <= paint["percent"] <= 68]
        after = [paint for paint in paints if paint["percent"] >= 70]
        if not downloading or not after:
            raise Failure("the marked run painted no download")
        seconds = (after[0]["at"] - downloading[0]["at"]) / 1e6
        records = after[0]["records"] - downloading[0]["records"]
        return len(downloading) / seconds, dict(paints=len(downloading), seconds=seconds, records=records)

    def repaints(self, release):
        print("== 7. repaints while the installer downloads (marked build)", flush=True)
        rate, sample = self.repaint_rate(release)
        self.samples["repaints"] = sample
        self.add(dict(item="7", measure="repaints per second during the 256 MiB download", program=rate,
                      baseline=None, unit="/s", ratio=None, target=">= 20", met=rate >= 20,
                      note=f"{sample['paints']} paints in {sample['seconds']:.2f} s while {sample['records']} "
                           f"records arrived ({sample['records'] / sample['seconds']:.0f}/s)"))

    def memory(self):
        print("== 4. peak resident memory of QuorvaneSetup.exe, files of 64 MiB and 1 GiB "
              "(database 256 MiB, the largest accepted)", flush=True)
        setup = os.path.join(self.build, "ui", "QuorvaneSetup.exe")
        peaks = {}
        for label, size in (("small", 64 * MIB), ("large", GIB)):
            release = self.prepare_release(label, size, min(size, SEGMENT_DATABASE_CAP))
            try:
                peaks[label] = self.install_with_program(release, setup)[1] / 1024
            finally:
                self.drop_release(release)
                self.clean_installation()
        growth = peaks["large"] - peaks["small"]
        self.samples["memory_peak_mib"] = peaks
        for label, (_, peak_map) in zip(("small", "large"), self.peak_maps_taken[-2:]):
            print(f"   4 map, {label}: " + peak_map.summary(), flush=True)
        self.add(dict(item="4", measure="peak resident memory (MiB), 1 GiB installer and 256 MiB database vs "
                                        "64 MiB files",
                      program=peaks["large"], baseline=peaks["small"], unit="MiB", ratio=peaks["large"] / peaks["small"],
                      target="<= 32 MiB, flat", met=peaks["large"] <= 32 and growth <= 2,
                      note=f"growth {growth:+.1f} MiB"))
        self.memory_floor()

    def memory_floor(self):
        """Peak resident memory of the least program that does the same kinds
        of work under Wine: a window with GDI+ text in the installer's face, a
        WinHTTP download and a CryptoAPI digest of it; for 4b also the logo
        and the off-screen first paint of 6b, with every DLL the setup loads."""
        size = 64 * MIB
        url = f"https://localhost:{self.ports['https_port']}/x/size={size},seed=12/bench/floor.bin"
        target = os.path.join(self.data, "floor.bin")
        window = os.path.join(self.build, "bench-programs", "bench-window.exe")
        floor = max(self.run_wine([window, url, windows_path(target)])[1] for _ in range(2)) / 1024
        self.remove(target)
        gdi_only = self.run_wine([window])[1] / 1024
        setup = os.path.join(self.build, "ui", "QuorvaneSetup.exe")
        dlls = dll_names(setup)
        with_dlls, loaded = 0, {}
        for _ in range(2):
            output, peak = self.run_wine([os.path.join(self.build, "bench-programs", "bench-window-setup.exe"), url,
                                          windows_path(target)] + dlls)
            with_dlls = max(with_dlls, peak / 1024)
            loaded = self.fields(output)
            if self.last_peak_map:
                print("   4b map, the baseline: " + self.last_peak_map.summary(), flush=True)
        self.remove(target)
        failed = [name for name in loaded.get("failed", "").split(",") if name]
        peaks = self.samples["memory_peak_mib"]
        program = peaks["small"]
        self.samples["memory_floor_mib"] = dict(window_download_digest=floor, window_only=gdi_only,
                                                with_setup_dlls=with_dlls, setup_dlls=dlls, dlls_not_loaded=failed)
        self.add(dict(item="4w", measure="same, minimal window + GDI+ text + WinHTTP download + CryptoAPI digest",
                      program=floor, baseline=program, unit="MiB", ratio=floor / program, target="(Wine)", met=None,
                      note=f"a bare GDI window alone peaks at {gdi_only:.1f} MiB"))
        highest = max(peaks.values())
        growth = peaks["large"] - peaks["small"]
        self.add(dict(item="4b", measure="same, the highest peak vs the first paint of 6b and the minimal work of 4w, "
                                         "with every DLL the setup names loaded through the setup's manifest "
                                         "(common controls 6)",
                      program=highest, baseline=with_dlls, unit="MiB", ratio=None, difference=highest - with_dlls,
                      target="<= baseline + 4 MiB, growth <= 2 MiB", met=highest - with_dlls <= 4 and growth <= 2,
                      note=f"{len(dlls)} DLLs: {', '.join(name.removesuffix('.dll') for name in dlls)}"
                           + (f"; not loaded: {', '.join(failed)}" if failed else "")
                           + f"; growth {growth:+.1f} MiB"))

    # --- 5. size --------------------------------------------------------------------

    def size(self):
        print("== 5. size of the stripped executable", flush=True)
        setup = os.path.join(self.build, "ui", "QuorvaneSetup.exe")
        copy = os.path.join(self.data, "QuorvaneSetup-stripped.exe")
        shutil.copyfile(setup, copy)
        subprocess.run(["x86_64-w64-mingw32-strip", copy], check=True)
        stripped = os.path.getsize(copy)
        self.remove(copy)
        built = os.path.getsize(setup)
        self.add(dict(item="5", measure="QuorvaneSetup.exe, stripped, resources included (bytes)", program=stripped,
                      baseline=None, unit="B", ratio=stripped / MIB, target="<= 1.25 MiB (stretch 1 MiB)",
                      met=stripped <= 1.25 * MIB,
                      note=f"{stripped / MIB:.3f} MiB; the build's own file is {built} bytes"))
        floor = os.path.join(self.build, "bench-programs", "bench-floor.exe")
        self.run_wine([floor, windows_path(self.data)])  # a working program, not one the linker emptied
        shutil.copyfile(floor, copy)
        subprocess.run(["x86_64-w64-mingw32-strip", copy], check=True)
        floor_size = os.path.getsize(copy)
        self.remove(copy)
        self.samples["size_bytes"] = dict(setup=stripped, floor=floor_size)
        self.add(dict(item="5b", measure="same, vs the floor: file system, file streams, a thread, atomics and the "
                                         "setup's resources, stripped alike",
                      program=stripped, baseline=floor_size, unit="B", ratio=None, difference=stripped - floor_size,
                      target="<= floor + 128 KiB", met=stripped - floor_size <= 128 * 1024,
                      note="what the setup's own code costs"))
        size_map = os.path.join(self.build, "ui", "QuorvaneSetup.map")
        if os.path.exists(size_map):  # what the bytes are, from the linker's map
            subprocess.run([sys.executable, os.path.join(self.repo, "bench", "size_map.py"), size_map, "--top", "8"],
                           check=False)

    # --- 6. start-up ------------------------------------------------------------------

    def first_paint(self, arguments, proxied, kill):
        marks = os.path.join(self.data, "startup-marks.txt")
        self.remove(marks)
        started = time.time()
        process = self.start_wine(arguments, proxied, {"QV_BENCH_MARKS": windows_path(marks)}, measured=False)
        deadline = time.monotonic() + 60
        paints, steps = [], []
        while not paints and time.monotonic() < deadline:
            time.sleep(0.005)
            steps = []
            paints = read_marks(marks, steps) if os.path.exists(marks) else []
        if kill:
            process.send_signal(signal.SIGKILL)
        if self.reap(process, block=True) is None or not paints:
            raise Failure(f"{os.path.basename(arguments[0])} did not paint")
        self.remove(marks)
        self.last_steps = step_durations(steps, paints[0])
        return paints[0]["at"] / 1e6 - started, (paints[0]["at"] - paints[0]["created"]) / 1e6

    def startup(self):
        print("== 6. start-up to the first complete paint", flush=True)
        programs = {
            "program": ([os.path.join(self.build, "bench-programs", "QuorvaneSetupMarked.exe"), SLOW_MANIFEST], True),
            "minimal": ([os.path.join(self.build, "bench-programs", "bench-window.exe")], False),
            "same_work": ([os.path.join(self.build, "bench-programs", "bench-window-setup.exe"), "paint"], False),
        }
        times = {mode: [] for mode in programs}
        inside = {mode: [] for mode in programs}
        steps = {mode: [] for mode in programs}
        for run in range(self.startup_runs + 1):
            for mode, (arguments, kill) in programs.items():
                outside, since_created = self.first_paint(arguments, proxied=True, kill=kill)
                if run > 0:  # the first start warms the caches
                    times[mode].append(outside)
                    inside[mode].append(since_created)
                    steps[mode].append(self.last_steps)
        self.samples["startup_seconds"] = times
        self.samples["startup_since_process_created"] = inside
        self.samples["startup_steps_ms"] = steps
        for mode in ("program", "same_work"):
            names = [name for name, _ in steps[mode][0]]
            medians = [median([run[index][1] for run in steps[mode] if len(run) == len(names)])
                       for index in range(len(names))]
            print(f"   6 steps, {mode} (median ms since the mark before): "
                  + ", ".join(f"{name} {value:.0f}" for name, value in zip(names, medians)), flush=True)
        program, minimal = median(times["program"]), median(times["minimal"])
        self.add(dict(item="6", measure="start-up to first complete paint (ms), QuorvaneSetup vs minimal window",
                      program=program * 1000, baseline=minimal * 1000, unit="ms", ratio=program / minimal,
                      target="< 300 ms", met=program < 0.3,
                      note=f"from the Windows process's creation: {median(inside['program']) * 1000:.0f} ms vs "
                           f"{median(inside['minimal']) * 1000:.0f} ms"))
        same_work = median(times["same_work"])
        self.add(dict(item="6b", measure="same, vs a window that starts GDI+, decodes the logo and draws one line of "
                                         "GDI+ text off-screen, copied once",
                      program=program * 1000, baseline=same_work * 1000, unit="ms", ratio=program / same_work,
                      target="<= 1.2", met=program / same_work <= 1.2,
                      note=f"from the Windows process's creation: {median(inside['program']) * 1000:.0f} ms vs "
                           f"{median(inside['same_work']) * 1000:.0f} ms"))

    # --- 6s and 7s. display scale -----------------------------------------------------

    def set_display_dpi(self, dpi):
        """The display scale of the project's prefix for the programs started
        from now on: Wine reads it when a program starts."""
        key = r"HKCU\Control Panel\Desktop"
        arguments = (["reg", "add", key, "/v", "LogPixels", "/t", "REG_DWORD", "/d", str(dpi), "/f"] if dpi != 96
                     else ["reg", "delete", key, "/v", "LogPixels", "/f"])
        subprocess.run([self.wine_run] + arguments, env=self.environment(False), stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def display_scale(self):
        print("== 6s, 7s. first paint and repaints at 192 DPI against 96 DPI", flush=True)
        release = self.prepare_release("scale", 256 * MIB, 16 * MIB)
        marked = os.path.join(self.build, "bench-programs", "QuorvaneSetupMarked.exe")
        measured = {}
        try:
            for dpi in (96, 192):
                self.set_display_dpi(dpi)
                paints = [self.first_paint([marked, SLOW_MANIFEST], proxied=True, kill=True)[0]
                          for _ in range(self.startup_runs + 1)][1:]  # the first start warms the caches
                measured[dpi] = (median(paints), self.repaint_rate(release)[0])
        finally:
            self.set_display_dpi(96)
            self.drop_release(release)
            self.clean_installation()
        self.samples["display_scale"] = measured
        (paint_96, rate_96), (paint_192, rate_192) = measured[96], measured[192]
        self.add(dict(item="6s", measure="start-up to first complete paint (ms) at 192 DPI vs 96 DPI",
                      program=paint_192 * 1000, baseline=paint_96 * 1000, unit="ms", ratio=paint_192 / paint_96,
                      target="< 300 ms", met=paint_192 < 0.3, note="the project's prefix with LogPixels 192"))
        self.add(dict(item="7s", measure="repaints per second during the 256 MiB download at 192 DPI vs 96 DPI",
                      program=rate_192, baseline=rate_96, unit="/s", ratio=rate_192 / rate_96, target=">= 20",
                      met=rate_192 >= 20, note="four times the pixels per paint"))

    # --- report -------------------------------------------------------------------------

    def report(self, command):
        load = " / ".join(f"{value:.1f}" for value in (self.load_at_start, os.getloadavg()[0]))
        lines = [f"Measured with `{command}` on {time.strftime('%Y-%m-%d %H:%M')}, "
                 f"{os.cpu_count()} cores, load average {load} (start / end), medians of {self.runs} runs "
                 f"(installation {self.install_runs}, start-up {self.startup_runs}). Ratios are program / baseline, "
                 f"differences (signed) program - baseline; rows marked (Wine) show what a minimal program gets "
                 f"under Wine.", "",
                 "| # | measure | program | baseline | ratio or difference | target | met | note |",
                 "|---|---|---|---|---|---|---|---|"]
        for row in self.rows:
            met = {True: "yes", False: "**no**", None: ""}[row["met"]]
            if row.get("difference") is not None:
                ratio = format_difference(row["difference"], row["unit"])
            else:
                ratio = "" if row["ratio"] is None else f"{row['ratio']:.2f}"
            lines.append(f"| {row['item']} | {row['measure']} | {format_value(row['program'], row['unit'])} | "
                         f"{format_value(row['baseline'], row['unit'])} | {ratio} | {row['target']} | {met} | "
                         f"{row['note']} |")
        table = "\n".join(lines) + "\n"
        with open(os.path.join(self.work, "results.md"), "w") as stream:
            stream.write(table)
        with open(os.path.join(self.work, "results.json"), "w") as stream:
            json.dump({"command": command, "load_average": [self.load_at_start, os.getloadavg()[0]],
                       "rows": self.rows, "samples": self.samples}, stream, indent=2)
        print()
        print(table)
        print(f"written to {self.work}/results.md and results.json")


def format_value(value, unit):
    if value is None:
        return ""
    if unit == "B":
        return f"{value:,.0f} B"
    if unit in ("ms", "/s"):
        return f"{value:.0f} {unit}"
    return f"{value:.2f} {unit}" if unit == "s" else f"{value:.1f} {unit}"


def format_difference(value, unit):
    if unit == "B":
        return f"{value:+,.0f} B ({value / 1024:+.1f} KiB)"
    return f"{value:+.1f} {unit}"


def dll_names(executable):
    """Every DLL name the executable holds, lower case: its imports, its
    delay-loaded imports (MinGW's delay-import libraries leave them out of the
    image's delay-import directory, so objdump -p does not list them) and the
    DLLs it looks functions up in by name."""
    with open(executable, "rb") as stream:
        image = stream.read()
    narrow = re.findall(rb"([A-Za-z0-9_]+\.dll)\x00", image, re.IGNORECASE)
    wide = re.findall(rb"((?:[A-Za-z0-9_]\x00)+\.\x00[dD]\x00[lL]\x00[lL]\x00)\x00\x00", image)
    names = {name.decode() for name in narrow} | {name.decode("utf-16-le") for name in wide}
    return sorted({name.lower() for name in names})


class PeakMap:
    """The memory map of a measured Windows process (the child of GNU time)
    at the highest resident size it was seen at, summed by what is mapped."""

    def __init__(self, time_pid):
        self.time_pid = time_pid
        self.pid = None
        self.highest = 0
        self.mappings = []

    def sample(self):
        try:
            if self.pid is None:
                with open(f"/proc/{self.time_pid}/task/{self.time_pid}/children") as stream:
                    children = stream.read().split()
                if not children:
                    return
                self.pid = int(children[0])
            with open(f"/proc/{self.pid}/smaps_rollup") as stream:
                rss = next(int(line.split()[1]) for line in stream if line.startswith("Rss:"))
            if rss <= self.highest:
                return
            with open(f"/proc/{self.pid}/smaps") as stream:
                text = stream.read()
        except (OSError, ValueError, StopIteration):
            return
        self.highest = rss
        self.mappings = []
        name, size = "", 0
        for line in text.splitlines():
            fields = line.split()
            if re.match(r"^[0-9a-f]+-[0-9a-f]+ ", line):
                start, end = (int(value, 16) for value in fields[0].split("-"))
                name, size = (fields[5] if len(fields) > 5 else "[anonymous]"), (end - start) // 1024
            elif fields and fields[0] == "Rss:":
                self.mappings.append((name, size, int(fields[1])))

    def summary(self, largest=12):
        groups = {}
        for name, _, rss in self.mappings:
            base = os.path.basename(name)
            key = base.lower() if re.search(r"\.(dll|drv|exe|so[.0-9]*)$", base, re.I) else name
            groups[key] = groups.get(key, 0) + rss
        lines = [f"peak {self.highest / 1024:.1f} MiB resident; by mapping (KiB):"]
        lines += [f"  {rss:7d}  {key}" for key, rss in sorted(groups.items(), key=lambda item: -item[1]) if rss >= 256]
        anonymous = sorted((m for m in self.mappings if m[0] == "[anonymous]"), key=lambda m: -m[2])[:largest]
        lines.append("largest anonymous mappings (resident / mapped KiB): "
                     + ", ".join(f"{rss}/{size}" for _, size, rss in anonymous))
        return "\n".join(lines)


def read_marks(path, steps=None):
    """The paint marks of a marks file; the start-up steps before the first
    paint go into steps, when given, as (name, microseconds)."""
    paints = []
    with open(path) as stream:
        for line in stream:
            parts = line.split()
            if len(parts) == 5 and parts[0] == "paint":
                paints.append(dict(at=int(parts[1]), created=int(parts[2]), percent=int(parts[3]),
                                   records=int(parts[4])))
            elif len(parts) == 3 and parts[0] == "step" and steps is not None and not paints:
                steps.append((parts[2], int(parts[1])))
    return paints


def step_durations(steps, paint):
    """Milliseconds each start-up step took, from the process's creation, and the paint after the last."""
    durations, previous = [], paint["created"]
    for name, at in steps + [("paint", paint["at"])]:
        durations.append((name, (at - previous) / 1000))
        previous = at
    return durations


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--repo", required=True)
    parser.add_argument("--build", required=True)
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--install-runs", type=int, default=3)
    parser.add_argument("--startup-runs", type=int, default=10)
    parser.add_argument("--peak-maps", action="store_true",
                        help="print the memory map at each installation's peak, summed by what is mapped")
    parser.add_argument("--only",
                        default="download,digest,verification,installation,memory,size,startup,display_scale")
    parser.add_argument("--command", default="bash bench/bench.sh")
    arguments = parser.parse_args()
    bench = Bench(arguments.repo, arguments.build, arguments.runs, arguments.install_runs, arguments.startup_runs,
                  arguments.peak_maps)
    chosen = arguments.only.split(",")
    try:
        for name in ("size", "download", "digest", "verification", "installation", "memory", "startup",
                     "display_scale"):
            if name in chosen:
                getattr(bench, name)()
    except Failure as failure:
        print(f"benchmark failed: {failure}", file=sys.stderr)
        return 1
    finally:
        bench.remove(bench.data)
        bench.clean_installation()
    bench.report(arguments.command)
    return 0


if __name__ == "__main__":
    sys.exit(main())
