#!/usr/bin/env python3
"""The real QuorvaneSetup.exe under Wine and X against the local release
server: a clean installation with no arguments, a failed installation retried
with a real click after the server is fixed, a real click on "取消" during a
slow download, second copies started beside a first one, which hand over
to its window and end, or say so when no window of the first one shows, and
a signed setup that runs only installers of its own publisher. Screenshots
stay in <build>/tests/e2e/screenshots/.

    setup_e2e.py SETUP_EXE WINDOW_PROBE_EXE SCREEN_READER_EXE OWN_FILE_ELSEWHERE_EXE
"""
import glob
import os
import queue
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(os.path.dirname(HERE))
BUILD = os.environ["QV_BUILD_DIR"]
SHOTS = os.path.join(BUILD, "tests", "e2e", "screenshots")
sys.path.insert(0, os.path.join(REPO, "tools", "testserver"))
import publish_release  # noqa: E402

BLUE = "2563EB"
AMBER = "D97706"
RED = "DC2626"
WHITE = "FFFFFF"
BAR = (50, 174)  # inside the bar's fill from its first percent on


class Failure(Exception):
    pass


# How long a killed process may take to go.
KILL_GRACE = 10


def run(command, timeout=60, check=False, input=None, what=None):
    """Runs a command in a process group of its own, its input and output in files, and kills the whole group
    when it outlasts timeout: a hang then fails its scenario, naming the command (what, by default its program's
    name), instead of stopping the whole test silently. A process that outlives the command and keeps its output
    open (a server Wine started for it) holds a file, which nobody waits on, not a pipe."""
    named = what or os.path.basename(command[1] if command[0] == WINE_RUN else command[0])
    with tempfile.TemporaryFile() as stdin, tempfile.TemporaryFile() as stdout, tempfile.TemporaryFile() as stderr:
        if input is not None:
            stdin.write(input.encode("utf-8"))
            stdin.seek(0)
        process = subprocess.Popen(command, stdin=subprocess.DEVNULL if input is None else stdin, stdout=stdout,
                                   stderr=stderr, start_new_session=True)
        try:
            process.wait(timeout)
        except subprocess.TimeoutExpired:
            try:
                os.killpg(process.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
            try:
                process.wait(KILL_GRACE)
            except subprocess.TimeoutExpired:
                raise Failure(f"{named} did not end within {timeout} s, nor within {KILL_GRACE} s of being killed")
            raise Failure(f"{named} did not end within {timeout} s; killed")
        texts = []
        for stream in (stdout, stderr):
            stream.seek(0)
            texts.append(stream.read().decode("utf-8", "replace"))
    if check and process.returncode != 0:
        raise Failure(f"{named} ended with code {process.returncode}: {texts[1][-400:]}")
    return subprocess.CompletedProcess(command, process.returncode, *texts)


class Lines:
    """The lines a process writes to its standard output, read by a thread of their own so that every wait for
    one has a bound."""

    def __init__(self, process, name):
        self.name = name
        self.queue = queue.Queue()
        threading.Thread(target=self._read, args=(process.stdout,), daemon=True).start()

    def _read(self, stream):
        for line in stream:
            self.queue.put(line.strip())
        self.queue.put(None)

    def next(self, timeout, what):
        try:
            line = self.queue.get(timeout=timeout)
        except queue.Empty:
            raise Failure(f"{self.name}: {what} did not come within {timeout} s")
        if line is None:
            raise Failure(f"{self.name}: ended before {what}")
        return line


def user_folder():
    """The Wine user's profile inside the project's prefix."""
    users = [path for path in glob.glob(os.path.join(BUILD, "wineprefix", "drive_c", "users", "*"))
             if os.path.basename(path) not in ("Public", "public")]
    if len(users) != 1:
        raise Failure(f"cannot tell the Wine user's folder from {users}")
    return users[0]


WINE_RUN = os.path.join(REPO, "tools", "wine-run")
PROFILE = user_folder()
DATA = os.path.join(PROFILE, "AppData", "Local", "QuorvaneSoft", "QuorvaneX")
TEMP = os.path.join(PROFILE, "Temp")
WORK = os.path.join(TEMP, "QuorvaneOnlineSetup")
LOG = os.path.join(TEMP, "QuorvaneOnlineSetup-install.log")


def leftovers():
    paths = [WORK, LOG] + [os.path.join(DATA, name) for name in
                           ("segments.download.qvrdb", "segments.download.csv", "segment-manifest.json.download")]
    return [path for path in paths if os.path.exists(path)]


def clean_machine():
    shutil.rmtree(os.path.dirname(DATA), ignore_errors=True)
    shutil.rmtree(WORK, ignore_errors=True)
    if os.path.exists(LOG):
        os.remove(LOG)


MANIFEST_PATH = publish_release.INSTALLER_ROUTE
INSTALLER_PATH = "/releases/QuorvaneSetup-"
# A second copy waits up to 2 s for the first one's window; counted from the moment its process exists in Wine.
HAND_OVER_SECONDS = 3.5


# Every program a scenario started; what still runs when it ends is killed, so
# that a copy left by a failed scenario cannot take the next one's place.
LAUNCHED = []


LAUNCH_OUTPUT = os.path.join(BUILD, "tests", "e2e", "launched")
# Wine's notice on a 64-bit-only host, printed by every start: not the program's.
WINE32_NOTICE = ("wine32 is missing", "multiarch needs", "dpkg --add-architecture", "apt-get install wine32")


def launch(*command):
    """Starts a Windows program; the process is Wine itself (wine-run execs it). What Wine and the program write
    goes to a file of its own, named after the process, for a failure to quote."""
    environment = dict(os.environ)
    environment["http_proxy"] = "http://127.0.0.1:" + publish_release.endpoints(BUILD)["proxy_port"]
    os.makedirs(LAUNCH_OUTPUT, exist_ok=True)
    with tempfile.NamedTemporaryFile(dir=LAUNCH_OUTPUT, suffix=".txt", delete=False) as output:
        process = subprocess.Popen([WINE_RUN, *command], env=environment, stdin=subprocess.DEVNULL,
                                   stdout=output, stderr=subprocess.STDOUT)
    process.output_path = output.name
    LAUNCHED.append(process)
    return process


def launch_output(process, limit=600):
    """The end of what a launched process wrote, on one line."""
    try:
        with open(process.output_path, encoding="utf-8", errors="replace") as stream:
            text = " | ".join(line.strip() for line in stream
                              if line.strip() and not any(notice in line for notice in WINE32_NOTICE))
    except (AttributeError, OSError):
        return ""
    return text[-limit:]


def stop_launched():
    """Kills what still runs of the programs started; names those that a kill did not end."""
    stuck = []
    for process in LAUNCHED:
        process.kill()
        try:
            process.wait(KILL_GRACE)
        except subprocess.TimeoutExpired:
            stuck.append(f"{os.path.basename(process.args[1])} (pid {process.pid}) still ran {KILL_GRACE} s after "
                         "it was killed")
    LAUNCHED.clear()
    return stuck


def wine_started(processes, exe, timeout=60):
    """When each launched copy of exe came to exist in Wine: Wine gives a program's process the name of its file
    (cut to 15 characters) as it starts it. Counting from there leaves out Wine's own start, which a loaded
    machine makes long."""
    name = os.path.basename(exe)[:15]
    started = [None] * len(processes)
    deadline = time.time() + timeout
    while None in started:
        for index, process in enumerate(processes):
            if started[index] is None:
                try:
                    with open(f"/proc/{process.pid}/comm", encoding="utf-8", errors="replace") as stream:
                        if stream.read().strip() == name:
                            started[index] = time.time()
                except OSError:
                    pass
                if started[index] is None and process.poll() is not None:
                    raise Failure(f"{name} ended (code {process.returncode}) before it was seen to start in Wine; "
                                  f"it wrote: {launch_output(process) or '(nothing)'}")
        if time.time() > deadline:
            raise Failure(f"{name} was not seen to start in Wine within {timeout} s")
        time.sleep(0.01)
    return started


def request_counts():
    """Requests so far for the installer manifest and for the installer."""
    control = publish_release.Control(publish_release.endpoints(BUILD)["control_port"])
    return control.request_count(MANIFEST_PATH), control.request_count(INSTALLER_PATH)


class Setup:
    """One QuorvaneSetup.exe process and its window's client geometry."""

    def __init__(self, setup_exe, probe_exe, name, process=None):
        self.name = name
        self.probe_exe = probe_exe
        self.process = process or launch(setup_exe)
        self.window = self.probe()

    def probe(self, *action):
        """Reads the window through window_probe (after its action, if any): keeps the client geometry and
        returns every field (iconic, foreground, front, windows, ...)."""
        probe = run([WINE_RUN, self.probe_exe, "30", *action], timeout=90, what="the window probe")
        if probe.returncode != 0:
            self.process.kill()
            raise Failure(f"{self.name}: no installer window appeared")
        fields = dict(item.split("=") for item in probe.stdout.split())
        if fields["iconic"] == "0":
            self.x, self.y = (int(value) for value in fields["origin"].split(","))
            self.width, self.height = (int(value) for value in fields["client"].split("x"))
            self.primary = (self.width - 74, self.height - 33)
            self.close = (self.width - 184, self.height - 33)
            self.close_probe = (self.width - 226, self.height - 33)
        return fields

    def screenshot(self, label):
        path = os.path.join(SHOTS, f"{self.name}-{label}.png")
        run(["import", "-window", "root", "-crop",
             f"{self.width}x{self.height}+{self.x}+{self.y}", "+repage", path], check=True)
        return path

    def pixels(self, path, points):
        format_text = "".join(f"%[hex:p{{{x},{y}}}] " for x, y in points)
        out = run(["convert", path, "-format", format_text, "info:"], check=True)
        return [value[:6].upper() for value in out.stdout.split()]

    def wait_for(self, label, expected, timeout=60):
        """Waits until every (point, colour) holds in a screenshot."""
        deadline = time.time() + timeout
        while time.time() < deadline:
            if self.process.poll() is not None:
                raise Failure(f"{self.name}: the program ended (code {self.process.returncode}) before '{label}'")
            shot = self.screenshot(label)
            found = self.pixels(shot, [point for point, _ in expected])
            if found == [colour for _, colour in expected]:
                return shot
            time.sleep(0.2)
        raise Failure(f"{self.name}: '{label}' not seen within {timeout} s: {found} instead of "
                      f"{[colour for _, colour in expected]} (see {shot})")

    def click(self, point):
        x, y = self.x + point[0], self.y + point[1]
        run(["xdotool", "mousemove", "--sync", str(x), str(y)], timeout=20, check=True)
        time.sleep(0.15)
        run(["xdotool", "click", "1"], timeout=20, check=True)

    def wait_exit(self, timeout=120):
        try:
            return self.process.wait(timeout)
        except subprocess.TimeoutExpired:
            self.process.kill()
            raise Failure(f"{self.name}: the program did not end within {timeout} s")


def expect(condition, message):
    if not condition:
        raise Failure(message)


def expect_installed(release, name):
    started = os.path.join(DATA, "Application", "product-started.txt")
    for _ in range(100):
        if os.path.exists(started):
            break
        time.sleep(0.1)
    expect(os.path.exists(started), f"{name}: the product was not started")
    with open(started, encoding="utf-8") as stream:
        text = stream.read()
    expect("working folder: C:\\users\\" in text and text.split("\n")[0].endswith(
        "\\AppData\\Local\\QuorvaneSoft\\QuorvaneX\\Application"), f"{name}: product started elsewhere: {text!r}")
    with open(os.path.join(DATA, "segments.qvrdb"), "rb") as installed, open(release["database"], "rb") as served:
        expect(installed.read() == served.read(), f"{name}: the installed database differs from the served one")
    with open(os.path.join(DATA, "segment-manifest.json"), "rb") as stream:
        record = stream.read()
    expect(record.count(b"\n") == 9 and b"\r" not in record and record.endswith(b"}\n"),
           f"{name}: the local record is not nine plain lines: {record!r}")
    expect(not leftovers(), f"{name}: left behind {leftovers()}")


def clean_installation(setup_exe, probe_exe):
    clean_machine()
    # Eight seconds of download, to be seen on the bar.
    release = publish_release.publish(BUILD, rate=1_000_000, installer_padding=8 << 20)
    setup = Setup(setup_exe, probe_exe, "install")
    setup.wait_for("downloading", [(BAR, BLUE)])
    code = setup.wait_exit()
    expect(code == 0, f"install: exit code {code}")
    expect_installed(release, "install")
    print("ok: a clean installation with no arguments installs, starts the product and leaves nothing behind")


def warm_up(setup_exe, probe_exe):
    """Starts the program and the probe once before the scenarios: the first start in a prefix fills Wine's font
    cache and has been seen to last longer than the whole download that clean_installation must see."""
    clean_machine()
    publish_release.publish(BUILD, broken=True)
    launch(setup_exe)
    started = time.time()
    probe = run([WINE_RUN, probe_exe, "120"], timeout=180, what="the window probe")
    print(f"warm-up: the first window {'seen' if probe.returncode == 0 else 'not seen'} after "
          f"{time.time() - started:.1f} s")
    for stuck in stop_launched():
        raise Failure(f"warm-up: {stuck}")


def expect_hand_over(setup_exe, second, name):
    """A second copy ends by itself, with exit code 0, within about 3 s of its start in Wine."""
    started = wine_started([second], setup_exe)[0]
    try:
        code = second.wait(max(0.1, started + HAND_OVER_SECONDS - time.time()))
    except subprocess.TimeoutExpired:
        second.kill()
        raise Failure(f"{name}: the second copy still ran {HAND_OVER_SECONDS} s after its start")
    expect(code == 0, f"{name}: the second copy ended with exit code {code}")


def two_copies(setup_exe, probe_exe, gap):
    """Two copies started gap seconds apart: one ends at once, the other makes the one run. Whichever takes the
    run first keeps it: Wine may start the later copy's program first."""
    name = f"two-copies-{gap}s"
    clean_machine()
    # A download of 16 s: still under way after the hand-over's wait, a probe's start and a screenshot, each of
    # them slow on a loaded machine.
    release = publish_release.publish(BUILD, rate=1_000_000, installer_padding=16 << 20)
    manifests, installers = request_counts()
    copies = [launch(setup_exe)]
    time.sleep(gap)
    copies.append(launch(setup_exe))
    deadlines = [started + HAND_OVER_SECONDS for started in wine_started(copies, setup_exe)]
    while True:
        noticed = time.time()
        ended = [(copy, deadline) for copy, deadline in zip(copies, deadlines) if copy.poll() is not None]
        if ended or noticed > max(deadlines):
            break
        time.sleep(0.02)
    expect(len(ended) == 1, f"{name}: {len(ended)} copies ended within {HAND_OVER_SECONDS} s of their start, "
           "expected one")
    ended, deadline = ended[0]
    expect(noticed <= deadline + 0.1, f"{name}: a copy ended {noticed - deadline + HAND_OVER_SECONDS:.1f} s after "
           f"its start, later than {HAND_OVER_SECONDS} s")
    expect(ended.returncode == 0, f"{name}: the copy that ended did so with exit code {ended.returncode}")
    setup = Setup(setup_exe, probe_exe, name, process=copies[1] if ended is copies[0] else copies[0])
    expect(setup.window["windows"] == "1", f"{name}: {setup.window['windows']} installer windows")
    setup.wait_for("downloading", [(BAR, BLUE)])
    code = setup.wait_exit()
    expect(code == 0, f"{name}: exit code {code}")
    expect_installed(release, name)
    manifests, installers = (now - before for now, before in zip(request_counts(), (manifests, installers)))
    expect((manifests, installers) == (1, 1),
           f"{name}: {manifests} installer manifest requests and {installers} installer downloads, expected one each")
    print(f"ok: of two copies started {gap} s apart one ends with 0 at once; one window, one manifest request "
          "and one download, and the run installs")


def after_a_killed_copy(setup_exe, probe_exe):
    clean_machine()
    publish_release.publish(BUILD, rate=500_000, installer_padding=8 << 20)
    killed = Setup(setup_exe, probe_exe, "killed")
    killed.wait_for("downloading", [(BAR, BLUE)])
    killed.process.kill()
    try:
        killed.process.wait(KILL_GRACE)
    except subprocess.TimeoutExpired:
        raise Failure(f"killed: the program still ran {KILL_GRACE} s after it was killed")
    # Wine's server tears the dead process down after it has gone.
    time.sleep(1)
    release = publish_release.publish(BUILD)
    setup = Setup(setup_exe, probe_exe, "after-kill")
    code = setup.wait_exit()
    expect(code == 0, f"after-kill: exit code {code}")
    expect_installed(release, "after-kill")
    print("ok: a copy started after the first was killed during its download runs a whole installation")


def probe_until(setup, wanted, label, timeout=15):
    """Probes the window until every wanted field holds."""
    deadline = time.time() + timeout
    while True:
        fields = setup.probe()
        if all(fields[key] == value for key, value in wanted.items()):
            return
        if time.time() > deadline:
            raise Failure(f"{setup.name}: {label}: {fields} instead of {wanted}")
        time.sleep(0.2)


def second_copies_on_the_failed_screen(setup_exe, setup, failed):
    """The failed first copy behind another program's window, then minimised: a second copy brings it back in
    front as it was, starts no run and ends."""
    manifests = request_counts()[0]
    other = launch("notepad")
    probe_until(setup, {"foreground": "0", "front": "0"}, "behind the other window")
    for label in ("behind", "minimised"):
        if label == "minimised":
            fields = setup.probe("minimize")
            expect(fields["iconic"] == "1", f"{setup.name}: the probe could not minimise the window")
        expect_hand_over(setup_exe, launch(setup_exe), f"{setup.name}: {label}")
        probe_until(setup, {"iconic": "0", "foreground": "1", "front": "1", "windows": "1"},
                    f"after a second copy while {label}", timeout=2)
        setup.wait_for(f"failed-{label}-second-copy", failed, timeout=2)
    other.kill()
    expect(request_counts()[0] == manifests, f"{setup.name}: a second copy asked for the installer manifest")
    print("ok: a second copy while the first shows the failed screen behind another window, and while it is "
          "minimised, ends with 0 and brings that screen back in front, unchanged")


def second_copy_without_window(setup_exe, probe_exe):
    """A copy that finds the run taken by a process that shows no window (window_probe holding the mutex) says so
    in a message box and ends with a non-zero code once the user has closed it, having asked the servers nothing."""
    requests = request_counts()
    holder = subprocess.Popen([WINE_RUN, probe_exe, "hold"], stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                              stderr=subprocess.DEVNULL, text=True, encoding="utf-8")
    LAUNCHED.append(holder)
    lines = Lines(holder, "no-window: the window probe holding the run")
    expect(lines.next(60, "its first line") == "holding", "no-window: the helper could not take the run's mutex")
    copy = launch(setup_exe)
    started = wine_started([copy], setup_exe)[0]
    box = lines.next(30, "the message box's text")
    shown = time.time() - started
    expect(box == "box 安装程序已在运行，请等待它完成，或将其结束后再试", f"no-window: the message box shows {box!r}")
    time.sleep(0.5)
    expect(copy.poll() is None, f"no-window: the copy ended (code {copy.returncode}) before its message was closed")
    found = run(["xdotool", "search", "--name", "^澜岫 在线安装$"], timeout=20).stdout.split()
    expect(found, "no-window: no X window carries the message box's title")
    run(["xdotool", "windowfocus", "--sync", found[-1]], timeout=20, check=True)
    run(["xdotool", "key", "Return"], timeout=20, check=True)
    try:
        code = copy.wait(15)
    except subprocess.TimeoutExpired:
        raise Failure("no-window: the copy did not end after its message was closed")
    expect(code != 0, "no-window: the copy reported success with exit code 0")
    expect(request_counts() == requests, "no-window: the copy asked the servers")
    print(f"ok: a copy that finds the run taken and no window tells the user after {shown:.2f} s, and ends with "
          f"exit code {code} after the message is closed, with no request")


def failure_then_retry(setup_exe, probe_exe):
    clean_machine()
    publish_release.publish(BUILD, broken=True)
    setup = Setup(setup_exe, probe_exe, "retry")
    failed = [(BAR, RED), (setup.close_probe, WHITE)]
    setup.wait_for("failed", failed)
    second_copies_on_the_failed_screen(setup_exe, setup, failed)
    release = publish_release.publish(BUILD)
    setup.click(setup.primary)
    code = setup.wait_exit()
    expect(code == 0, f"retry: exit code {code}")
    expect_installed(release, "retry")
    print("ok: a failed installation shows the red bar, and 重新安装 after the server is fixed completes it")


def cancel_during_download(setup_exe, probe_exe):
    clean_machine()
    publish_release.publish(BUILD, rate=500_000, installer_padding=32 << 20)
    setup = Setup(setup_exe, probe_exe, "cancel")
    setup.wait_for("downloading", [(BAR, BLUE)])
    time.sleep(1)
    expect(os.path.isdir(WORK), "cancel: the download had not started")
    setup.click(setup.primary)
    setup.wait_for("cancelled", [(BAR, AMBER), (setup.close_probe, WHITE)], timeout=40)
    expect(not leftovers(), f"cancel: left behind {leftovers()}")
    expect(not os.path.exists(os.path.join(DATA, "Application")), "cancel: the product was installed")
    setup.click(setup.close)
    code = setup.wait_exit(20)
    expect(code == 0, f"cancel: closing ended with exit code {code}")
    print("ok: 取消 during a slow download ends as cancelled with nothing left behind, and 关闭 ends the program")


SIGNING = os.path.join(BUILD, "tests", "e2e", "signing")
SIGNATURE_INVALID = "安装包数字签名无效"
PUBLISHER_MISMATCH = "安装包发布者与安装程序不一致"
VERSION_MISMATCH = "安装包版本与安装信息不一致"
BELOW_FLOOR = "安装包版本低于本安装程序支持的最低版本"
OWN_SIGNATURE_UNREADABLE = "无法读取安装程序自身的数字签名"


def openssl(*arguments):
    run(["openssl", *arguments], check=True)


def make_signers():
    """A code-signing CA trusted in the prefix, and certificates of it: "setup" and "renewed" of one subject with
    keys of their own (a renewal), "other" of another subject. Returns the signed copy of the setup."""
    shutil.rmtree(SIGNING, ignore_errors=True)
    os.makedirs(SIGNING)
    ca = os.path.join(SIGNING, "ca")
    openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-sha256", "-days", "30", "-keyout", ca + ".key",
            "-out", ca + ".pem", "-subj", "/CN=Quorvane E2E Code Signing CA",
            "-addext", "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=critical,keyCertSign")
    extensions = os.path.join(SIGNING, "signer.ext")
    with open(extensions, "w", encoding="utf-8") as stream:
        stream.write("basicConstraints=critical,CA:FALSE\nkeyUsage=critical,digitalSignature\n"
                     "extendedKeyUsage=codeSigning\n")
    # "renewed" is a year's renewal at another CA's profile: ST and L added, O and CN as PrintableString
    # instead of UTF8String, a key of its own. "other" has the same CN but another organisation.
    subjects = {"setup": ("/C=CN/O=Quorvane Software/CN=Quorvane Software", "utf8only"),
                "renewed": ("/C=CN/ST=Zhejiang/L=Hangzhou/O=Quorvane Software/CN=Quorvane Software", "default"),
                "other": ("/C=CN/O=Quorvane Tools/CN=Quorvane Software", "utf8only")}
    for name, (subject, string_mask) in subjects.items():
        base = os.path.join(SIGNING, name)
        with open(base + ".cnf", "w", encoding="utf-8") as stream:
            stream.write(f"[req]\ndistinguished_name = dn\nstring_mask = {string_mask}\n[dn]\n")
        openssl("req", "-new", "-newkey", "rsa:2048", "-nodes", "-keyout", base + ".key", "-out", base + ".csr",
                "-config", base + ".cnf", "-subj", subject)
        openssl("x509", "-req", "-in", base + ".csr", "-CA", ca + ".pem", "-CAkey", ca + ".key", "-set_serial",
                str(int.from_bytes(os.urandom(8), "big")), "-days", "30", "-sha256", "-extfile", extensions,
                "-out", base + ".pem")
    trust = os.path.join(BUILD, "tools", "trust-test-ca.exe")
    run([WINE_RUN, trust, "Z:" + (ca + ".pem").replace("/", "\\")], check=True, what="the CA trust tool")


def pad_table(path, count=4096):
    """Appends count bytes inside the file's certificate table, raising its entry's length and the security
    directory's size to match: bytes that no signature covers, riding inside a valid one."""
    with open(path, "r+b") as stream:
        data = bytearray(stream.read())
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        magic = struct.unpack_from("<H", data, pe + 24)[0]
        entry = pe + 24 + (112 if magic == 0x20B else 96) + 4 * 8
        offset, size = struct.unpack_from("<II", data, entry)
        struct.pack_into("<II", data, entry, offset, size + count)
        struct.pack_into("<I", data, offset, struct.unpack_from("<I", data, offset)[0] + count)
        stream.seek(0)
        stream.write(bytes(data) + os.urandom(count))


def signer(name, change_byte=False, padded=False):
    """Signs a file in place with the named certificate; change_byte then changes one signed byte, padded
    appends bytes inside the certificate table."""
    def sign(path):
        base = os.path.join(SIGNING, name)
        run(["osslsigncode", "sign", "-certs", base + ".pem", "-key", base + ".key", "-h", "sha256",
             "-in", path, "-out", path + ".signed"], check=True)
        os.replace(path + ".signed", path)
        if padded:
            pad_table(path)
        if change_byte:
            with open(path, "r+b") as stream:
                stream.seek(4096)
                byte = stream.read(1)
                stream.seek(4096)
                stream.write(bytes([byte[0] ^ 1]))
    return sign


def window_texts(reader_exe):
    """The names and values of the window's children, as a screen reader reads them."""
    reader = run([WINE_RUN, reader_exe], input="tree\n", timeout=60, what="the screen reader")
    return reader.stdout


def standin_ran():
    return os.path.exists(os.path.join(DATA, "installer-command-line.txt"))


def signed_setup(setup_exe, probe_exe, reader_exe):
    """A signed setup installs what its publisher signed, under a renewed certificate too, and refuses an unsigned
    installer, one of another subject and one changed after signing: the stand-in never runs, the file is gone,
    and 重新安装 then installs a good release."""
    make_signers()
    signed_exe = os.path.join(SIGNING, "QuorvaneSetup.exe")
    shutil.copyfile(setup_exe, signed_exe)
    signer("setup")(signed_exe)
    for name in ("setup", "renewed"):
        clean_machine()
        release = publish_release.publish(BUILD, sign=signer(name))
        setup = Setup(signed_exe, probe_exe, f"signed-{name}")
        code = setup.wait_exit()
        expect(code == 0, f"signed-{name}: exit code {code}")
        expect_installed(release, f"signed-{name}")
    # (label, sign, what the installer's version block says, the manifest's version, the message)
    refusals = (("unsigned", None, None, "2026.12.0", SIGNATURE_INVALID + "（错误码 "),
                ("other-organisation", signer("other"), None, "2026.12.0", PUBLISHER_MISMATCH),
                ("changed-after-signing", signer("setup", change_byte=True), None, "2026.12.0",
                 SIGNATURE_INVALID + "（错误码 "),
                ("padded-table", signer("setup", padded=True), None, "2026.12.0", SIGNATURE_INVALID),
                ("relabelled", signer("setup"), "2025.1.0", "2026.12.0", VERSION_MISMATCH),
                ("below-the-floor", signer("setup"), None, "2026.11.0", BELOW_FLOOR))
    for label, sign, installer_version, version, message in refusals:
        clean_machine()
        publish_release.publish(BUILD, sign=sign, version=version, installer_version=installer_version)
        setup = Setup(signed_exe, probe_exe, f"signed-{label}")
        setup.wait_for("refused", [(BAR, RED), (setup.close_probe, WHITE)])
        texts = window_texts(reader_exe)
        expect(message in texts, f"signed-{label}: the window does not say {message!r}: {texts}")
        # The table is refused before WinVerifyTrust, which would accept it: no error code of its own.
        expect(label != "padded-table" or "错误码" not in texts, f"signed-{label}: WinVerifyTrust judged it: {texts}")
        expect(not standin_ran(), f"signed-{label}: the refused installer ran")
        expect(not leftovers(), f"signed-{label}: left behind {leftovers()}")
        if label == "unsigned":
            release = publish_release.publish(BUILD, sign=signer("renewed"))
            setup.click(setup.primary)
            code = setup.wait_exit()
            expect(code == 0, f"signed-retry: exit code {code}")
            expect_installed(release, "signed-retry")
        else:
            setup.click(setup.close)
            setup.wait_exit(20)
    print("ok: a signed setup installs installers of its publisher (a renewal at another CA's profile too) and "
          "refuses an unsigned one, another organisation's, one changed after signing, one with bytes inside its "
          "certificate table, an old one relabelled and one below the floor, running none, leaving none, and retries")


def signed_setup_reuse(setup_exe, probe_exe, reader_exe):
    """An unsigned earlier download that the manifest's size and digest describe is refused and deleted, and no
    download is made for it."""
    del setup_exe
    clean_machine()
    release = publish_release.publish(BUILD)
    os.makedirs(WORK, exist_ok=True)
    earlier = os.path.join(WORK, f"QuorvaneSetup_{release['version']}.exe")
    shutil.copyfile(release["installer"], earlier)
    downloads = request_counts()[1]
    setup = Setup(os.path.join(SIGNING, "QuorvaneSetup.exe"), probe_exe, "signed-reuse")
    setup.wait_for("refused", [(BAR, RED), (setup.close_probe, WHITE)])
    texts = window_texts(reader_exe)
    expect(SIGNATURE_INVALID in texts, f"signed-reuse: the window does not say {SIGNATURE_INVALID}: {texts}")
    expect(not os.path.exists(earlier), "signed-reuse: the refused earlier download is still there")
    expect(not standin_ran(), "signed-reuse: the refused installer ran")
    expect(request_counts()[1] == downloads, "signed-reuse: the installer was downloaded")
    setup.click(setup.close)
    setup.wait_exit(20)
    print("ok: a signed setup refuses and deletes an unsigned earlier download without downloading it again")


def signed_setup_own_file_unreadable(probe_exe, reader_exe, elsewhere_exe):
    """A signed setup that cannot open its own file (a build that looks for it elsewhere) refuses before it asks
    for the manifest: were it to count as unsigned, it would run any installer."""
    clean_machine()
    publish_release.publish(BUILD)
    signed_exe = os.path.join(SIGNING, "QuorvaneSetupOwnFileElsewhere.exe")
    shutil.copyfile(elsewhere_exe, signed_exe)
    signer("setup")(signed_exe)
    manifests = request_counts()[0]
    setup = Setup(signed_exe, probe_exe, "signed-own-file-unreadable")
    # The pointer may still rest on 关闭 from the scenario before: the bar alone tells the failed screen.
    setup.wait_for("refused", [(BAR, RED)])
    texts = window_texts(reader_exe)
    expect(OWN_SIGNATURE_UNREADABLE in texts, f"own-file: the window does not say {OWN_SIGNATURE_UNREADABLE}: {texts}")
    expect(request_counts()[0] == manifests, "own-file: the setup asked for the installer manifest")
    expect(not standin_ran(), "own-file: an installer ran")
    setup.click(setup.close)
    setup.wait_exit(20)
    print("ok: a signed setup that cannot read its own file says so before it asks for the manifest, and runs nothing")


def main():
    setup_exe, probe_exe, reader_exe, elsewhere_exe = sys.argv[1:5]
    os.makedirs(SHOTS, exist_ok=True)
    shutil.rmtree(LAUNCH_OUTPUT, ignore_errors=True)
    prefix = os.path.join(BUILD, "wineprefix")
    if run([os.path.join(REPO, "tools", "wine-server"), "check", prefix], timeout=30).returncode != 0:
        print(f"FAIL: no persistent Wine server runs for {prefix}: the programs of the first scenario would start "
              "one, whose services hold the output of the commands the test reads (tools/test.sh starts it)")
        return 1
    failures = 0
    try:
        warm_up(setup_exe, probe_exe)
    except Failure as failure:
        print(f"FAIL: {failure}")
        return 1
    # Every scenario after the first starts its copy after an earlier one has ended.
    scenarios = {
        "clean_installation": clean_installation,
        "two_copies_at_once": lambda *exes: two_copies(*exes, 0),
        "two_copies_a_second_apart": lambda *exes: two_copies(*exes, 1),
        "after_a_killed_copy": after_a_killed_copy,
        "second_copy_without_window": second_copy_without_window,
        "failure_then_retry": failure_then_retry,
        "cancel_during_download": cancel_during_download,
        "signed_setup": lambda *exes: signed_setup(*exes, reader_exe),
        "signed_setup_reuse": lambda *exes: signed_setup_reuse(*exes, reader_exe),
        "signed_setup_own_file_unreadable":
            lambda _, probe: signed_setup_own_file_unreadable(probe, reader_exe, elsewhere_exe),
    }
    # QV_E2E_ONLY=signed_setup,signed_setup_reuse runs only those, for work on them.
    only = os.environ.get("QV_E2E_ONLY")
    for name, scenario in scenarios.items():
        if only and name not in only.split(","):
            continue
        try:
            scenario(setup_exe, probe_exe)
        except Failure as failure:
            failures += 1
            print(f"FAIL: {name}: {failure}")
        for stuck in stop_launched():
            failures += 1
            print(f"FAIL: {name}: {stuck}")
    clean_machine()
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
