#!/usr/bin/env python3
"""The real QuorvaneSetup.exe under Wine and X against the local release
server: a clean installation with no arguments, a failed installation retried
with a real click after the server is fixed, and a real click on "取消" during
a slow download. Screenshots stay in <build>/tests/e2e/screenshots/.

    setup_e2e.py SETUP_EXE WINDOW_PROBE_EXE
"""
import glob
import os
import shutil
import subprocess
import sys
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


def user_folder():
    """The Wine user's profile inside the project's prefix."""
    users = [path for path in glob.glob(os.path.join(BUILD, "wineprefix", "drive_c", "users", "*"))
             if os.path.basename(path) not in ("Public", "public")]
    if len(users) != 1:
        raise Failure(f"cannot tell the Wine user's folder from {users}")
    return users[0]


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


class Setup:
    """One QuorvaneSetup.exe process and its window's client geometry."""

    def __init__(self, setup_exe, probe_exe, name):
        self.name = name
        environment = dict(os.environ)
        environment["http_proxy"] = "http://127.0.0.1:" + publish_release.endpoints(BUILD)["proxy_port"]
        wine_run = os.path.join(REPO, "tools", "wine-run")
        self.process = subprocess.Popen([wine_run, setup_exe], env=environment, stdin=subprocess.DEVNULL,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        probe = subprocess.run([wine_run, probe_exe, "30"], capture_output=True, text=True, stdin=subprocess.DEVNULL)
        if probe.returncode != 0:
            self.process.kill()
            raise Failure(f"{name}: no installer window appeared")
        fields = dict(item.split("=") for item in probe.stdout.split())
        self.x, self.y = (int(value) for value in fields["origin"].split(","))
        self.width, self.height = (int(value) for value in fields["client"].split("x"))
        self.primary = (self.width - 74, self.height - 33)
        self.close = (self.width - 184, self.height - 33)
        self.close_probe = (self.width - 226, self.height - 33)

    def screenshot(self, label):
        path = os.path.join(SHOTS, f"{self.name}-{label}.png")
        subprocess.run(["import", "-window", "root", "-crop",
                        f"{self.width}x{self.height}+{self.x}+{self.y}", "+repage", path], check=True)
        return path

    def pixels(self, path, points):
        format_text = "".join(f"%[hex:p{{{x},{y}}}] " for x, y in points)
        out = subprocess.run(["convert", path, "-format", format_text, "info:"], capture_output=True, text=True, check=True)
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
        subprocess.run(["xdotool", "mousemove", "--sync", str(x), str(y)], check=True)
        time.sleep(0.15)
        subprocess.run(["xdotool", "click", "1"], check=True)

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
    release = publish_release.publish(BUILD, rate=1_000_000, installer_padding=3 << 20)
    setup = Setup(setup_exe, probe_exe, "install")
    setup.wait_for("downloading", [(BAR, BLUE)])
    code = setup.wait_exit()
    expect(code == 0, f"install: exit code {code}")
    expect_installed(release, "install")
    print("ok: a clean installation with no arguments installs, starts the product and leaves nothing behind")


def failure_then_retry(setup_exe, probe_exe):
    clean_machine()
    publish_release.publish(BUILD, broken=True)
    setup = Setup(setup_exe, probe_exe, "retry")
    setup.wait_for("failed", [(BAR, RED), (setup.close_probe, WHITE)])
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


def main():
    setup_exe, probe_exe = sys.argv[1:3]
    os.makedirs(SHOTS, exist_ok=True)
    failures = 0
    for scenario in (clean_installation, failure_then_retry, cancel_during_download):
        try:
            scenario(setup_exe, probe_exe)
        except Failure as failure:
            failures += 1
            print(f"FAIL: {failure}")
    clean_machine()
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
