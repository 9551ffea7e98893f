#!/usr/bin/env python3
"""The real installer window under Wine and X, driven by scripted runs
(window_driver.exe) and real X input (xdotool); checked with pixel probes on
screenshots, which stay in <build>/tests/ui/screenshots/ for a look (a probe
that does not match leaves mismatch-<name>.png). A screen reader of our own
(screen_reader.exe) reads the window from another process through MSAA.

    window_input.py WINDOW_DRIVER_EXE SCREEN_READER_EXE

What the real window promises (tests/ui/window_model_test.cpp holds the model's rules), and the group that holds it:
- real keys do what the model says: Tab and Shift+Tab with the ring painted and the reader's focus agreeing, Space,
  Enter on the focused button and before any Tab: keyboard_only, cancel_retry_fail_close, success_and_enter
- the mouse alone never shows a focus cue: keyboard_only
- 取消, 重新安装 and 关闭 show their hovered and pressed looks under the real mouse; a press dragged off its button does
  nothing: cancel_retry_fail_close
- a reader finds each child's name, role, state, default action and place, and its default action presses the
  control: reader_during_runs
- each outcome is told in one alert, with no key pressed: failed (reader_during_runs), cancelled after keys
  (keyboard_only), finished while another program is in front (success_and_enter), unsupported as the window shows
  (high_contrast_screens)
- high contrast paints in the system's colours alone, every text readable: high_contrast_screens
- a reader's object of a destroyed window answers disconnected: destroyed_window
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
PRIMARY_PRESSED = "1D4ED8"
DISABLED = "F1F5F9"
SECONDARY_HOVER = "F8FAFC"
SECONDARY_PRESSED = "E2E8F0"


class Failure(Exception):
    pass


class Program:
    """A Windows program under Wine that answers in lines on its standard output."""

    def __init__(self, exe, *options, env=None):
        self.process = subprocess.Popen(
            [os.path.join(REPO, "tools", "wine-run"), exe, *options],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, env=env)
        self.lines = queue.Queue()
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for raw in self.process.stdout:
            self.lines.put(raw.decode("utf-8", "replace").rstrip("\r\n"))
        self.lines.put(None)

    def expect(self, prefix, timeout=30):
        deadline = time.time() + timeout
        while time.time() < deadline:
            try:
                line = self.lines.get(timeout=max(0.1, deadline - time.time()))
            except queue.Empty:
                break
            if line is None:
                raise Failure(f"{type(self).__name__} ended while waiting for '{prefix}'")
            if line.startswith(prefix):
                return line
        raise Failure(f"no '{prefix}' from {type(self).__name__} within {timeout} s")

    def stop(self):
        if self.process.poll() is None:
            self.process.kill()
        self.process.wait()


class Driver(Program):
    """One window_driver.exe process with its window's client geometry."""

    def __init__(self, exe, *options, env=None):
        # A window that appears under the pointer may take a hover look before any test moves the mouse.
        xdotool("mousemove", "0", "0")
        super().__init__(exe, *options, env=env)
        if "--high-contrast" in options:
            self.colours = dict(part.split("=") for part in self.expect("colours ").split()[1:])
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

    def send(self, command):
        self.process.stdin.write((command + "\n").encode("utf-8"))
        self.process.stdin.flush()
        return self.expect("done " + command.split()[0]) if command.split()[0] != "wait-cancel" else None

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


class Reader(Program):
    """One screen_reader.exe beside the window: asks it what a screen reader asks. It listens to events from its
    start; with window_later, the caller shows the window and then waits for ready()."""

    def __init__(self, exe, env=None, window_later=False):
        super().__init__(exe, env=env)
        self.expect("reader listening")
        if not window_later:
            self.ready()

    def ready(self):
        self.expect("reader ready")

    def ask(self, command):
        self.process.stdin.write((command + "\n").encode("utf-8"))
        self.process.stdin.flush()
        answer = []
        while True:
            line = self.expect("")
            if line == "done " + command.split()[0]:
                return answer
            answer.append(line)

    @staticmethod
    def described(line):
        """(id, its role, state, name, value, action and screen rectangle (x, y, w, h))."""
        if " role=" not in line:
            raise AssertionError(line)
        head, rest = line.split(" role=", 1)
        role, rest = rest.split(" state=", 1)
        state, rest = rest.split(" name=", 1)
        name, rest = rest.split(" value=", 1)
        value, rest = rest.split(" action=", 1)
        action, at = rest.rsplit(" at=", 1)
        return int(head.split()[1]), {"role": int(role, 16), "state": int(state, 16), "name": name, "value": value,
                                      "action": action, "at": tuple(int(v) for v in at.split(","))}

    def tree(self):
        """Child id to what described() reads of it."""
        return dict(self.described(line) for line in self.ask("tree"))

    def itself(self):
        return self.described(self.ask("self")[0])[1]

    def focus(self):
        return self.ask("focus")[0].split()[1]

    def events(self):
        """(kind, child, ms, text) of every event received since the last call, in the order raised."""
        taken = []
        for line in self.ask("events"):
            kind, child, ms, text = line.split(" ", 4)[1:]
            taken.append((kind, int(child.split("=")[1]), int(ms.split("=")[1]), text.split("=", 1)[1]))
        # A reader's calls back into the window let later events in before an earlier one is written down.
        return sorted(taken, key=lambda event: event[2])

    def wait_for(self, check, what, timeout=10):
        """Waits until check(tree) holds."""
        deadline = time.time() + timeout
        while True:
            children = self.tree()
            if check(children):
                print(f"ok: {what}")
                return children
            if time.time() > deadline:
                raise Failure(f"{what}: the reader found {children}")
            time.sleep(0.15)


# MSAA roles and states as the reader prints them.
STATIC_TEXT, PUSH_BUTTON, CHECK_BUTTON, PROGRESS_BAR = 0x29, 0x2B, 0x2C, 0x30
UNAVAILABLE, CHECKED, INVISIBLE = 0x1, 0x10, 0x8000


def wine_server(action, prefix):
    """Starts (after the set-up's own server has ended), checks or stops the prefix's persistent Wine server."""
    result = subprocess.run([os.path.join(REPO, "tools", "wine-server"), action, prefix], stdin=subprocess.DEVNULL,
                            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True, timeout=300)
    if result.returncode != 0 and action != "check":
        raise Failure(f"wine-server {action} {prefix}: {result.stderr.strip()}")
    return result.returncode == 0


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
    try:
        driver.expect("exit ")
    except Failure as failure:
        raise Failure(f"{what} did not close the window: {failure}")
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
        xdotool("mousedown", "1")
        wait_for(driver, [(driver.primary, SECONDARY_PRESSED)], "取消 shows its pressed look under the mouse")
        xdotool("mouseup", "1")
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
        wait_for(driver, [(driver.close, SECONDARY_HOVER)], "关闭 shows its hover look")
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

        driver.move(driver.primary_centre)
        wait_for(driver, [(driver.primary, BLUE)], "重新安装 shows its hover look")
        xdotool("mousedown", "1")
        wait_for(driver, [(driver.primary, PRIMARY_PRESSED)], "重新安装 shows its pressed look under the mouse")
        xdotool("mouseup", "1")
        # The new run clears the buttons' hover looks until the mouse moves again.
        wait_for(driver, [((bar_end(driver, 5) + 4, 174), RULE), (driver.primary, WHITE),
                          (driver.box, BLUE)],
                 "重新安装 starts a new run")
        driver.send("post 30 running 正在下载安装程序 30%")
        driver.process.stdin.write("fail 无法连接到下载服务器（错误码 12029）\n".encode("utf-8"))
        driver.process.stdin.flush()
        wait_for(driver, [((bar_end(driver, 30) - 5, 174), RED), (driver.close, WHITE)],
                 "the failed run shows a red bar and 关闭", "failed")
        xdotool("key", "Return")
        wait_for(driver, [((bar_end(driver, 5) + 4, 174), RULE), (driver.primary, WHITE)],
                 "Enter before any Tab is the primary action: 重新安装 starts a new run")
        driver.process.stdin.write("fail 再次失败\n".encode("utf-8"))
        driver.process.stdin.flush()
        wait_for(driver, [(driver.close, WHITE), (driver.primary, PRIMARY)], "the new run fails too")

        driver.click(driver.close_centre)
        expect_exit_zero(driver, "关闭 of the failed run")
    finally:
        driver.stop()


def success_and_enter(exe, reader_exe):
    driver = Driver(exe)
    reader = Reader(reader_exe)
    other = None
    try:
        for percent, text in [(5, "正在获取最新安装信息"), (15, "发现最新版 3.2.1"), (68, "正在下载安装程序 100%"),
                              (76, "正在安装程序"), (97, "正在安装号段库"), (99, "正在启动程序")]:
            driver.send(f"post {percent} running {text}")
        wait_for(driver, [((bar_end(driver, 99) - 5, 174), BLUE)], "the run reaches 99 %", "running-99")
        driver.click(driver.box_centre)
        wait_for(driver, [(driver.box, WHITE)], "a click on the box clears the auto-run option")
        if driver.flags()["launch"] != "0":
            raise Failure("the click on the box did not clear launch_after_install")
        # Another program in front, as when the user went on with other work, and no key touched.
        other = Program("notepad")
        deadline = time.time() + 20
        while reader.focus() != "none":
            if time.time() > deadline:
                raise Failure("the window kept the focus after notepad started")
            time.sleep(0.2)
        reader.events()
        driver.send("finish 安装完成")
        expect_outcome_told(reader, time.time(), "安装完成", "安装完成")
        if reader.focus() != "none":
            raise Failure(f"the window took the focus ({reader.focus()}) from the program in front")
        print("ok: the finished run is told while another program is in front")
        other.stop()
        wait_for(driver, frame_probes(driver)[:-1] + [((driver.width - 100, 174), BLUE), (driver.primary, WHITE),
                                                      (driver.box, BACKGROUND)],
                 "the finished run shows a full bar and 关闭", "finished")
        # A click beside the controls brings the window back in front, where the keys go.
        driver.click((driver.width // 2, 120))
        deadline = time.time() + 10
        while reader.focus() != "0":
            if time.time() > deadline:
                raise Failure("a click on the window did not bring it back in front")
            time.sleep(0.2)
        xdotool("key", "Return")
        expect_exit_zero(driver, "Enter on the finished run")
    finally:
        if other is not None:
            other.stop()
        reader.stop()
        driver.stop()


def expect_outcome_told(reader, shown, headline, message):
    """A reader that listens as readers do is told the outcome once, with no key pressed, within 1 s of its screen:
    one alert on an object that carries the headline as its name and the message as its description."""
    time.sleep(max(0.0, shown + 1.0 - time.time()))
    alerts = [(child, text) for kind, child, _, text in reader.events() if kind == "alert"]
    if alerts != [(3, f"{headline}|{message}")]:
        raise Failure(f"the outcome {headline} was told in the alerts {alerts}, expected one with its message")
    print(f"ok: the outcome {headline} is told once, in an alert with its message")


def expect_scaled_size(driver, dpi):
    """WM_GETDPISCALEDSIZE answers the outer size whose client area, inside the system's caption and borders at
    that DPI, is the client area at 96 DPI scaled."""
    driver.process.stdin.write(f"scaled-size {dpi}\n".encode())
    driver.process.stdin.flush()
    line = driver.expect("scaled-size ")
    driver.expect("done scaled-size")
    size, answer, frame = line.split()[1:4]
    (width, height), (frame_width, frame_height) = (map(int, text.split("=")[-1].split("x")) for text in (size, frame))
    client = f"{width - frame_width}x{height - frame_height}"
    expected = f"{(driver.width * dpi + 48) // 96}x{(driver.height * dpi + 48) // 96}"
    if answer != "answer=1" or frame_height == 0 or client != expected:
        raise Failure(f"WM_GETDPISCALEDSIZE for {dpi} DPI: {line}, a client area of {client}; expected {expected}, "
                      f"the {driver.width}x{driver.height} at 96 DPI scaled")
    print(f"ok: WM_GETDPISCALEDSIZE for {dpi} DPI answers {size}, which holds the client area {client}")


def destroyed_window(exe):
    """In the window's own process: an object taken before the window's destruction answers disconnected
    afterwards, and a WM_GETOBJECT that comes after WM_DESTROY makes no new object."""
    driver = Driver(exe, "--unsupported", "--check-destruction")
    try:
        line = driver.expect("destroyed ")
        if line != "destroyed object=0x80010108 getobject=0":
            raise Failure(f"after the window's destruction: {line}, expected the object disconnected "
                          "(RPC_E_DISCONNECTED, 0x80010108) and no object for a WM_GETOBJECT after WM_DESTROY")
        expect_exit_zero(driver, "the destruction")
        print("ok: after the window's destruction its object answers disconnected and no new one is made")
    finally:
        driver.stop()


def client_rect(driver, child):
    """A child's screen rectangle as client (left, top, right, bottom)."""
    x, y, w, h = child["at"]
    return x - driver.x, y - driver.y, x - driver.x + w, y - driver.y + h


def strong_pixels(pixels, rect, background):
    """How many pixels of the rectangle stand clearly apart from the background colour."""
    left, top, right, bottom = rect
    base = bytes.fromhex(background)
    count = 0
    for row in pixels[top:bottom]:
        for colour in row[left:right]:
            if sum(abs(a - b) for a, b in zip(bytes.fromhex(colour), base)) > 150:
                count += 1
    return count


def most_common(pixels, rect):
    left, top, right, bottom = rect
    counts = {}
    for row in pixels[top:bottom]:
        for colour in row[left:right]:
            counts[colour] = counts.get(colour, 0) + 1
    return max(counts, key=counts.get)


def check_texts_readable(driver, reader, pixels, what):
    """Every shown text and control of the reader's tree has text that stands apart from what is behind it."""
    for number, child in reader.tree().items():
        if child["state"] & INVISIBLE or child["role"] == PROGRESS_BAR:
            continue
        rect = client_rect(driver, child)
        if child["role"] == CHECK_BUTTON:
            rect = (rect[0] + 27, rect[1], rect[2], rect[3])  # the label beside the box
        background = most_common(pixels, rect)
        if strong_pixels(pixels, rect, background) < 12:
            raise Failure(f"{what}: the text of child {number} ({child['name']}) does not stand apart from #{background}")
    print(f"ok: {what}: every text stands apart from its background")


def reader_during_runs(exe, reader_exe):
    driver = Driver(exe)
    reader = Reader(reader_exe)
    try:
        driver.send("post 42 running 正在下载安装程序 42%")
        tree = reader.wait_for(lambda t: t[5]["value"] == "42%", "the reader finds the bar at 42 %")
        names = [tree[i]["name"] for i in range(1, 9)]
        if names != ["澜岫", "联网获取最新版并自动完成安装", "下载程序", "正在下载安装程序 42%", "安装进度",
                     "安装完成后自动运行", "关闭", "取消"]:
            raise Failure(f"the reader's names are {names}")
        roles = [tree[i]["role"] for i in range(1, 9)]
        if roles != [STATIC_TEXT] * 4 + [PROGRESS_BAR, CHECK_BUTTON, PUSH_BUTTON, PUSH_BUTTON]:
            raise Failure(f"the reader's roles are {roles}")
        if not tree[6]["state"] & CHECKED or not tree[7]["state"] & INVISIBLE or tree[8]["state"] & UNAVAILABLE:
            raise Failure(f"states: box {tree[6]['state']:#x}, 关闭 {tree[7]['state']:#x}, 取消 {tree[8]['state']:#x}")
        # A text that is absent is answered S_FALSE with none, for the client itself too.
        actions = [tree[i]["action"] for i in range(1, 9)]
        if actions != [""] * 5 + ["取消选中", "", "按下"]:
            raise Failure(f"the reader's default actions are {actions}")
        window = reader.itself()
        if (window["name"], window["value"], window["action"]) != ("澜岫 在线安装", "", ""):
            raise Failure(f"the reader reads the window itself as {window}")
        print("ok: the reader finds every text and control with its role, state and default action")

        # The places the reader gets are where the window paints.
        pixels = capture(driver, "reader-running")
        left, top, right, bottom = client_rect(driver, tree[8])
        middle = (top + bottom) // 2
        edges = [pixels[middle][left], pixels[middle][left - 1], pixels[middle][right - 1], pixels[middle][right]]
        if edges != ["CBD5E1", BACKGROUND, "CBD5E1", BACKGROUND]:
            raise Failure(f"取消 at {left}..{right}: its edges are painted {edges}")
        left, top, right, bottom = client_rect(driver, tree[5])
        if [pixels[174][left + 3], pixels[174][left - 2]] != [BLUE, WHITE]:
            raise Failure(f"the bar's place starts at {left}, where {pixels[174][left - 2:left + 4]} is painted")
        for number in (1, 2, 3, 4):
            if strong_pixels(pixels, client_rect(driver, tree[number]), WHITE) < 12:
                raise Failure(f"no text painted where the reader finds {tree[number]['name']}")
        x, y, w, h = tree[8]["at"]
        if reader.ask(f"hit {x + w // 2} {y + h // 2}") != ["hit 8"]:
            raise Failure("the hit test in 取消 does not find it")
        # accNavigate (NAVDIR_NEXT 5, NAVDIR_FIRSTCHILD 7) passes over hidden children; 9 is no direction.
        shown = [number for number in sorted(tree) if not tree[number]["state"] & INVISIBLE]
        walked = [reader.ask(command) for command in ("nav 0 7", f"nav {shown[0]} 5", f"nav {shown[1]} 9")]
        if walked != [[f"nav {shown[0]}"], [f"nav {shown[1]}"], ["nav none"]]:
            raise Failure(f"accNavigate over the shown children {shown} gives {walked}")
        print("ok: the reader's places and hit test match the painted controls, bar and texts")

        reader.events()
        driver.send("post 60 running 正在下载安装程序 60%")
        reader.wait_for(lambda t: t[5]["value"] == "60%", "the bar's value follows the percent")
        time.sleep(0.3)
        events = [(k, c, t) for k, c, _, t in reader.events()]
        if ("value", 5, "60%") not in events:
            raise Failure(f"no value change event for the new percent in {events}")
        print("ok: a value change event tells the new percent")

        if reader.ask("do 6") != ["do 0x00000000"]:
            raise Failure("accDoDefaultAction on the box failed")
        reader.wait_for(lambda t: not t[6]["state"] & CHECKED, "accDoDefaultAction clears the box")
        wait_for(driver, [(driver.box, WHITE)], "the cleared box is painted")
        if driver.flags()["launch"] != "0":
            raise Failure("accDoDefaultAction on the box did not clear launch_after_install")
        if ("state", 6) not in [(kind, child) for kind, child, _, _ in reader.events()]:
            raise Failure("no state change event for the cleared box")
        print("ok: a state change event tells that the box was cleared")

        # A fast download: at most about ten events a second for each child.
        reader.events()
        started = time.time()
        for step in range(300):
            percent = 20 + step * 48 // 299
            driver.send(f"post {percent} running 正在下载安装程序 {step}")
            time.sleep(0.008)  # about 100 records a second, for three seconds
        flood = time.time() - started
        time.sleep(0.6)
        events = reader.events()
        for kind, child in (("value", 5), ("name", 4)):
            times = [ms for k, c, ms, _ in events if (k, c) == (kind, child)]
            busiest = max(sum(1 for t in times if start <= t < start + 1000) for start in times) if times else 0
            if busiest > 11 or len(times) < 2 * flood:
                raise Failure(f"{len(times)} {kind} events of child {child} in {flood:.1f} s, {busiest} in the busiest second")
            print(f"ok: 300 records in {flood:.1f} s: {len(times)} {kind} events of child {child}, "
                  f"at most {busiest} in one second")
        # Two records a few milliseconds apart: the second is held back, and told when its time comes.
        driver.send("post 69 running 正在校验安装程序")
        driver.send("post 70 running 正在校验安装程序")
        time.sleep(0.6)
        told = [(ms, text) for kind, child, ms, text in reader.events() if (kind, child) == ("value", 5)]
        if len(told) != 2 or told[1][1] != "70%" or told[1][0] - told[0][0] < 90:
            raise Failure(f"two quick percents were told as {told}: expected the second about 100 ms after the first")
        print(f"ok: the last of two quick percents is told {told[1][0] - told[0][0]} ms after the first")

        reader.events()
        driver.process.stdin.write("fail 无法连接到下载服务器（错误码 12029）\n".encode("utf-8"))
        driver.process.stdin.flush()
        failed = time.time()
        reader.wait_for(lambda t: t[3]["name"] == "安装遇到问题" and t[4]["name"] == "无法连接到下载服务器（错误码 12029）"
                        and t[8]["name"] == "重新安装" and not t[7]["state"] & INVISIBLE,
                        "the reader reads the failure, 关闭 and 重新安装")
        expect_outcome_told(reader, failed, "安装遇到问题", "无法连接到下载服务器（错误码 12029）")
        if reader.ask("do 8") != ["do 0x00000000"]:
            raise Failure("accDoDefaultAction on 重新安装 failed")
        reader.wait_for(lambda t: t[3]["name"] == "获取安装信息" and t[8]["name"] == "取消",
                        "重新安装 through accDoDefaultAction starts a new run")
        expect_scaled_size(driver, 144)
        # 关闭 as soon as it is there, while the reader still reads the events of the failure:
        # the window must close also while a reader's calls are under way.
        driver.process.stdin.write("fail 再次失败\n".encode("utf-8"))
        driver.process.stdin.flush()
        deadline = time.time() + 10
        while reader.ask("do 7") != ["do 0x00000000"]:
            if time.time() > deadline:
                raise Failure("关闭 did not come with the failed run")
            time.sleep(0.005)
        expect_exit_zero(driver, "关闭 through accDoDefaultAction, pressed as the run fails,")
    finally:
        reader.stop()
        driver.stop()


def keyboard_only(exe, reader_exe):
    driver = Driver(exe)
    reader = Reader(reader_exe)
    try:
        w, h = driver.width, driver.height
        box_ring = (driver.box[0] - 3 + 22, h - 50 + 16)
        primary_ring, close_ring = (w - 124 + 3, h - 33), (w - 232 + 3, h - 33)
        driver.send("post 42 running 正在下载安装程序 42%")
        driver.move((w // 2, 120))
        wait_for(driver, [((bar_end(driver, 42) - 5, 174), BLUE)], "the run is at 42 %")
        plain = capture(driver, "keyboard-none")
        driver.click(driver.box_centre)
        driver.click(driver.box_centre)
        driver.move((w // 2, 120))
        time.sleep(0.5)
        if capture(driver, "keyboard-none-after-clicks") != plain:
            raise Failure("clicks changed the picture: the mouse alone must show no focus cue")
        print("ok: without the keyboard the window is pixel for pixel the same after clicks")

        def press(key, focus, probes, what):
            xdotool("key", key)
            wait_for(driver, probes, what)
            if reader.focus() != focus:
                raise Failure(f"{what}: the reader finds the focus on {reader.focus()}, expected {focus}")

        reader.events()
        press("Tab", "6", [(box_ring, "1E293B")], "Tab puts the focus on the check box, with a ring")
        time.sleep(0.3)
        if ("focus", 6) not in [(kind, child) for kind, child, _, _ in reader.events()]:
            raise Failure("no focus event for the check box")
        press("Tab", "8", [(primary_ring, "1E293B"), (box_ring, BACKGROUND)], "Tab moves on to 取消")
        press("Tab", "6", [(box_ring, "1E293B")], "Tab wraps round to the check box")
        press("shift+Tab", "8", [(primary_ring, "1E293B")], "Shift+Tab goes back to 取消")
        press("shift+Tab", "6", [(box_ring, "1E293B")], "Shift+Tab goes back to the check box")
        press("space", "6", [(driver.box, WHITE)], "Space clears the check box")
        press("space", "6", [(driver.box, BLUE)], "Space ticks it again")

        driver.process.stdin.write("fail 无法连接到下载服务器（错误码 12029）\n".encode("utf-8"))
        driver.process.stdin.flush()
        wait_for(driver, [(close_ring, "1E293B")], "the box went with the failed run: the focus passes to 关闭")
        if reader.focus() != "7":
            raise Failure(f"the focus passed to {reader.focus()}, expected 关闭 (7)")
        press("Tab", "8", [(primary_ring, WHITE)], "Tab moves on to 重新安装")
        press("Return", "8", [((bar_end(driver, 5) + 4, 174), RULE), (primary_ring, "1E293B")],
              "Enter on 重新安装 starts a new run and the focus stays on 取消")
        press("space", "0", [(driver.primary, DISABLED)], "Space on 取消 asks to cancel; nothing is left to take the focus")
        reader.events()
        driver.process.stdin.write(b"wait-cancel\n")
        driver.process.stdin.flush()
        driver.expect("cancel seen")
        expect_outcome_told(reader, time.time(), "安装已取消", "安装已取消，你可以重新开始安装")
        press("Tab", "7", [(close_ring, "1E293B")], "Tab after the cancel reaches 关闭")
        press("Tab", "8", [(primary_ring, WHITE)], "Tab moves on to 重新安装")
        press("space", "8", [((bar_end(driver, 5) + 4, 174), RULE), (primary_ring, "1E293B")],
              "Space on 重新安装 starts a new run and the focus stays on 取消")
        driver.process.stdin.write("fail 再次失败\n".encode("utf-8"))
        driver.process.stdin.flush()
        wait_for(driver, [(close_ring, WHITE), (primary_ring, WHITE)], "the failed run keeps the focus on 重新安装")
        press("shift+Tab", "7", [(close_ring, "1E293B")], "Shift+Tab goes back to 关闭")
        xdotool("key", "Return")
        expect_exit_zero(driver, "Enter on 关闭, where the keyboard put the focus,")
    finally:
        reader.stop()
        driver.stop()


# The system colours of a high-contrast scheme (white on black), as
# HKCU\Control Panel\Colors holds them, and as RRGGBB.
CONTRAST_SCHEME = {"Window": "0 0 0", "WindowText": "255 255 255", "GrayText": "63 242 63", "ButtonFace": "0 0 0",
                   "ButtonText": "255 255 255", "Hilight": "26 235 255", "HilightText": "0 0 0"}
CONTRAST_COLOURS = {"window": "000000", "text": "FFFFFF", "gray": "3FF23F", "face": "000000", "button": "FFFFFF",
                    "highlight": "1AEBFF", "highlighttext": "000000"}


def contrast_prefix():
    """A prefix of its own with the scheme's colours set; its environment for wine-run."""
    env = dict(os.environ, WINEPREFIX_OVERRIDE=os.path.join(BUILD, "wineprefix-contrast"))
    prefix = env["WINEPREFIX_OVERRIDE"]
    wine_run = os.path.join(REPO, "tools", "wine-run")
    quiet = {"env": env, "stdin": subprocess.DEVNULL, "stdout": subprocess.DEVNULL, "stderr": subprocess.DEVNULL}
    if not os.path.exists(os.path.join(prefix, ".quorvane-ready")):
        os.makedirs(prefix, exist_ok=True)
        subprocess.run([wine_run, "wineboot", "-i"], check=True, **quiet)
        commands = [["HKCU\\Control Panel\\Colors", name, value] for name, value in CONTRAST_SCHEME.items()]
        commands += [["HKCU\\Software\\Wine\\Fonts\\Replacements", face, "WenQuanYi Micro Hei"]
                     for face in ("Microsoft YaHei UI", "Microsoft YaHei")]
        # Wine's own theme sets its colours over these when it is active.
        commands.append(["HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\ThemeManager", "ThemeActive", "0"])
        for key, name, value in commands:
            subprocess.run([wine_run, "reg", "add", key, "/v", name, "/d", value, "/f"], check=True, **quiet)
        # The server keeps the colours it started with until it ends.
        wine_server("stop", prefix)
        open(os.path.join(prefix, ".quorvane-ready"), "w").close()
    wine_server("start", prefix)
    return env


def high_contrast_screens(exe, reader_exe):
    env = contrast_prefix()
    try:
        driver = Driver(exe, "--high-contrast", env=env)
        reader = Reader(reader_exe, env=env)
        try:
            if driver.colours != CONTRAST_COLOURS:
                raise Failure(f"GetSysColor reports {driver.colours}, the prefix holds {CONTRAST_COLOURS}")
            print("ok: GetSysColor follows the colours set in the prefix")
            screens = [("post 42 running 正在下载安装程序 42%", "running"), ("cancel", "cancelling"),
                       ("wait-cancel", "cancelled"), ("restart", "restarted"), ("finish 安装完成", "finished")]
            driver.send("window-colour 202020")
            wait_for(driver, [((10, 85), "202020")], "the window follows a change of the system's colours")
            driver.send("window-colour 000000")
            wait_for(driver, [((10, 85), "000000")], "and back")
            for command, name in screens:
                if command == "cancel":
                    reader.ask("do 8")
                    time.sleep(0.5)
                elif command == "restart":
                    reader.ask("do 8")
                    reader.wait_for(lambda t: t[8]["name"] == "取消", "重新安装 starts a new run")
                elif command == "wait-cancel":
                    driver.process.stdin.write(b"wait-cancel\n")
                    driver.process.stdin.flush()
                    driver.expect("cancel seen")
                    time.sleep(0.5)
                else:
                    driver.send(command)
                    time.sleep(0.5)
                pixels = capture(driver, "contrast-" + name)
                if any(BACKGROUND in row for row in pixels) or pixels[85][10] != "000000":
                    raise Failure(f"{name}: the window's own background shows in high contrast")
                check_texts_readable(driver, reader, pixels, "high contrast, " + name)
                if name == "cancelled" and (pixels[174][bar_end(driver, 42) - 5] != "1AEBFF"
                                            or pixels[174][driver.width - 100] != "000000"):
                    raise Failure("the bar's fill and track do not stand apart")

        finally:
            reader.stop()
            driver.stop()
        # A reader that listens before the window shows is told the unsupported screen, with no key pressed.
        reader = Reader(reader_exe, env=env, window_later=True)
        driver = None
        try:
            driver = Driver(exe, "--high-contrast", "--unsupported", env=env)
            reader.ready()
            expect_outcome_told(reader, time.time(), "当前系统无法安装", "Windows 10 1809 及以上版本\\nWindows 11（64 位）")
            check_texts_readable(driver, reader, capture(driver, "contrast-unsupported"), "high contrast, unsupported")
        finally:
            reader.stop()
            if driver is not None:
                driver.stop()
    finally:
        wine_server("stop", env["WINEPREFIX_OVERRIDE"])


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
        success_and_enter(sys.argv[1], sys.argv[2])
        reader_during_runs(sys.argv[1], sys.argv[2])
        keyboard_only(sys.argv[1], sys.argv[2])
        destroyed_window(sys.argv[1])
        high_contrast_screens(sys.argv[1], sys.argv[2])
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
