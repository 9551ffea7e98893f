#!/usr/bin/env python3
"""The real installer window under Wine and X, driven by scripted runs
(window_driver.exe) and real X input (xdotool); checked with pixel probes on
screenshots, which stay in <build>/tests/ui/screenshots/ for a look (a probe
that does not match leaves mismatch-<name>.png).

    window_input.py WINDOW_DRIVER_EXE
"""
import os
import queue
import subprocess
import sys
import threading
import time

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
BUILD = os.environ["QV_BUILD_DIR"]
SHOTS = os.path.join(BUILD, "tests", "ui", "screenshots")

WHITE = "FFFFFF"
RULE = "E2E8F0"
BACKGROUND = "F6F8FC"
BLUE = "2563EB"
AMBER = "D97706"
RED = "DC2626"
PRIMARY = "3B82F6"
DISABLED = "F1F5F9"
SECONDARY_HOVER = "F8FAFC"
SECONDARY_PRESSED = "E2E8F0"


class Failure(Exception):
    pass


class Driver:
    """One window_driver.exe process with its window's client geometry."""

    def __init__(self, exe):
        self.process = subprocess.Popen(
            [os.path.join(REPO, "tools", "wine-run"), exe],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.lines = queue.Queue()
        threading.Thread(target=self._read, daemon=True).start()
        line = self.expect("window ")
        self.fields = dict(part.split("=") for part in line.split()[1:])
        origin, client = line.split()[1:3]
        self.x, self.y = (int(v) for v in origin.split("=")[1].split(","))
        self.width, self.height = (int(v) for v in client.split("=")[1].split("x"))
        w, h = self.width, self.height
        # Probe points inside each control, clear of its caption and corners.
        self.primary = (w - 118, h - 33)
        self.close = (w - 226, h - 33)
        self.box = (27, h - 41)
        self.primary_centre = (w - 74, h - 33)
        self.close_centre = (w - 184, h - 33)
        self.box_centre = (33, h - 33)

    def _read(self):
        for raw in self.process.stdout:
            self.lines.put(raw.decode("utf-8", "replace").rstrip("\r\n"))
        self.lines.put(None)

    def send(self, command):
        self.process.stdin.write((command + "\n").encode("utf-8"))
        self.process.stdin.flush()
        return self.expect("done " + command.split()[0]) if command.split()[0] != "wait-cancel" else None

    def expect(self, prefix, timeout=30):
        deadline = time.time() + timeout
        while time.time() < deadline:
            try:
                line = self.lines.get(timeout=max(0.1, deadline - time.time()))
            except queue.Empty:
                break
            if line is None:
                raise Failure(f"the driver ended while waiting for '{prefix}'")
            if line.startswith(prefix):
                return line
        raise Failure(f"no '{prefix}' from the driver within {timeout} s")

    def flags(self):
        self.process.stdin.write(b"flags\n")
        self.process.stdin.flush()
        line = self.expect("flags ")
        self.expect("done flags")
        return dict(part.split("=") for part in line.split()[1:])

    def screen(self, point):
        return self.x + point[0], self.y + point[1]

    def move(self, point):
        x, y = self.screen(point)
        xdotool("mousemove", "--sync", str(x), str(y))

    def click(self, point):
        self.move(point)
        xdotool("click", "1")

    def stop(self):
        if self.process.poll() is None:
            self.process.kill()
        self.process.wait()


def xdotool(*arguments):
    subprocess.run(["xdotool", *arguments], check=True)


def capture(driver, name=None):
    """The client area as rows of RRGGBB strings; saved as a PNG when named."""
    path = os.path.join(SHOTS, (name or "probe") + ".png")
    crop = f"{driver.width}x{driver.height}+{driver.x}+{driver.y}"
    subprocess.run(["import", "-window", "root", "-crop", crop, "+repage", path], check=True)
    raw = subprocess.run(["convert", path, "-depth", "8", "rgb:-"], check=True, capture_output=True).stdout
    row = driver.width * 3
    return [[raw[y * row + x * 3: y * row + x * 3 + 3].hex().upper() for x in range(driver.width)]
            for y in range(driver.height)]


def wait_for(driver, probes, what, name=None, timeout=10):
    """Waits until every (point, colour) probe holds; saves the last screenshot under name."""
    deadline = time.time() + timeout
    while True:
        pixels = capture(driver)
        wrong = [(p, c, pixels[p[1]][p[0]]) for p, c in probes if pixels[p[1]][p[0]] != c]
        if not wrong:
            if name:
                capture(driver, name)
            print(f"ok: {what}")
            return
        if time.time() > deadline:
            capture(driver, "mismatch-" + (name or "probe"))
            detail = ", ".join(f"{p} is {a}, expected {c}" for p, c, a in wrong)
            raise Failure(f"{what}: {detail}")
        time.sleep(0.15)


def expect_exit_zero(driver, what):
    driver.expect("exit ")
    if driver.process.wait(timeout=15) != 0:
        raise Failure(f"{what} ended the driver with exit code {driver.process.returncode}")
    print(f"ok: {what} closes the window with exit code 0")


def frame_probes(driver):
    """Header, rule, background, card and the bar's track end."""
    w = driver.width
    return [((w - 10, 10), WHITE), ((10, 75), RULE), ((10, 85), BACKGROUND), ((w - 40, 100), WHITE),
            ((w - 100, 174), RULE)]


def bar_end(driver, percent):
    return 44 + (driver.width - 138) * min(percent, 100) // 100


def cancel_retry_fail_close(exe):
    driver = Driver(exe)
    try:
        # The worker itself reports 5 % before the first stage.
        wait_for(driver, frame_probes(driver) + [((bar_end(driver, 5) - 3, 174), BLUE),
                                                 ((bar_end(driver, 5) + 4, 174), RULE), (driver.primary, WHITE),
                                                 (driver.box, BLUE)],
                 "a new run shows the frame, the bar at 5 %, 取消 and the ticked box", "start")
        driver.send("post 42 running 正在下载安装程序 42%")
        end = bar_end(driver, 42)
        wait_for(driver, frame_probes(driver) + [((50, 174), BLUE), ((end - 5, 174), BLUE), ((end + 4, 174), RULE)],
                 "42 % fills the bar in blue up to its width", "running-42")
        driver.move(driver.primary_centre)
        wait_for(driver, [(driver.primary, SECONDARY_HOVER)], "取消 shows its hover look")
        xdotool("click", "1")
        wait_for(driver, [(driver.primary, DISABLED), (driver.box, BACKGROUND)],
                 "a click on 取消 shows 正在取消 disabled and hides the box", "cancelling")
        if driver.flags()["cancel"] != "1":
            raise Failure("the click on 取消 did not request the cancel")

        driver.send("post 60 running 正在下载安装程序 60%")
        time.sleep(0.5)
        wait_for(driver, [((bar_end(driver, 60) - 5, 174), RULE), ((end - 5, 174), BLUE)],
                 "a running record after the cancel request is dropped")

        driver.move((driver.width // 2, 120))
        driver.process.stdin.write(b"wait-cancel\n")
        driver.process.stdin.flush()
        driver.expect("cancel seen")
        wait_for(driver, [((end - 5, 174), AMBER), (driver.primary, PRIMARY), (driver.close, WHITE)],
                 "the cancelled run shows an amber bar, 关闭 and 重新安装", "cancelled")

        driver.move(driver.close_centre)
        xdotool("mousedown", "1")
        wait_for(driver, [(driver.close, SECONDARY_PRESSED)], "a press on 关闭 shows its pressed look")
        driver.move((driver.width // 2, 120))
        xdotool("mouseup", "1")
        wait_for(driver, [(driver.close, WHITE)], "the pressed look ends at the release off the button")
        driver.move(driver.primary_centre)
        xdotool("mousedown", "1")
        driver.move(driver.close_centre)
        xdotool("mouseup", "1")
        time.sleep(0.7)
        if driver.process.poll() is not None:
            raise Failure("a press dragged off its button closed the window")
        wait_for(driver, [((end - 5, 174), AMBER), (driver.primary, PRIMARY)],
                 "presses dragged off their buttons do nothing")

        driver.click(driver.primary_centre)
        # The new run clears the buttons' hover looks until the mouse moves again.
        wait_for(driver, [((bar_end(driver, 5) + 4, 174), RULE), (driver.primary, WHITE),
                          (driver.box, BLUE)],
                 "重新安装 starts a new run")
        driver.send("post 30 running 正在下载安装程序 30%")
        driver.process.stdin.write("fail 无法连接到下载服务器（错误码 12029）\n".encode("utf-8"))
        driver.process.stdin.flush()
        wait_for(driver, [((bar_end(driver, 30) - 5, 174), RED), (driver.close, WHITE)],
                 "the failed run shows a red bar and 关闭", "failed")

        driver.click(driver.close_centre)
        expect_exit_zero(driver, "关闭 of the failed run")
    finally:
        driver.stop()


def success_and_enter(exe):
    driver = Driver(exe)
    try:
        for percent, text in [(5, "正在获取最新安装信息"), (15, "发现最新版 3.2.1"), (68, "正在下载安装程序 100%"),
                              (76, "正在安装程序"), (97, "正在安装号段库"), (99, "正在启动程序")]:
            driver.send(f"post {percent} running {text}")
        wait_for(driver, [((bar_end(driver, 99) - 5, 174), BLUE)], "the run reaches 99 %", "running-99")
        driver.click(driver.box_centre)
        wait_for(driver, [(driver.box, WHITE)], "a click on the box clears the auto-run option")
        if driver.flags()["launch"] != "0":
            raise Failure("the click on the box did not clear launch_after_install")
        driver.send("finish 安装完成")
        wait_for(driver, frame_probes(driver)[:-1] + [((driver.width - 100, 174), BLUE), (driver.primary, WHITE),
                                                      (driver.box, BACKGROUND)],
                 "the finished run shows a full bar and 关闭", "finished")
        driver.move((driver.width // 2, 120))
        xdotool("key", "Return")
        expect_exit_zero(driver, "Enter on the finished run")
    finally:
        driver.stop()


def main():
    if not os.environ.get("DISPLAY"):
        print("no DISPLAY: run through tools/test.sh, which starts Xvfb")
        return 1
    os.makedirs(SHOTS, exist_ok=True)
    for stale in os.listdir(SHOTS):
        if stale.startswith("mismatch-"):
            os.remove(os.path.join(SHOTS, stale))
    try:
        cancel_retry_fail_close(sys.argv[1])
        success_and_enter(sys.argv[1])
    except Failure as failure:
        print(f"FAIL: {failure}")
        return 1
    finally:
        probe = os.path.join(SHOTS, "probe.png")
        if os.path.exists(probe):
            os.remove(probe)
    return 0


if __name__ == "__main__":
    sys.exit(main())
