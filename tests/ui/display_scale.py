#!/usr/bin/env python3
"""The real installer window at 96, 120, 144, 168 and 192 DPI, each in a Wine
prefix of its own (HKCU\\Control Panel\\Desktop\\LogPixels):

- the running, cancelled, failed and unsupported screens, with the client
  area at each scale equal to the 96-DPI client area times the scale;
- real X clicks at the scaled centre of each control (the box toggles, 取消
  cancels, 重新安装 starts again) and just outside it (nothing happens);
- at 96 and 192 DPI every screen is pixel-identical to tests/ui/reference/
  (<screen>.png, <screen>-192.png);
- a WM_DPICHANGED sent to the real window: it takes the suggested size and
  paints with the new DPI's geometry.

Screenshots stay in <build>/tests/ui/screenshots/scale-<dpi>-<screen>.png.

    display_scale.py WINDOW_DRIVER_EXE SETUP_EXE PROBE_EXE [--update-references]
"""
import os
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from window_input import (BACKGROUND, BLUE, AMBER, RED, WHITE, RULE, Driver, Failure, SHOTS,  # noqa: E402
                          capture, expect_exit_zero, wine_server, xdotool)

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
BUILD = os.environ["QV_BUILD_DIR"]
REFERENCES = os.path.join(REPO, "tests", "ui", "reference")
SCALES = (96, 120, 144, 168, 192)


def scaled(length, dpi):
    """A 96-DPI length at the given DPI, rounded half away from zero like the window."""
    return (length * dpi + 48) // 96 if length >= 0 else -((-length * dpi + 48) // 96)


def wine(prefix, *arguments, check=False):
    """Runs a Windows program in the prefix. A checked one is tried up to five
    times: reg.exe in a prefix that is only just set up has failed once."""
    environment = dict(os.environ, WINEPREFIX_OVERRIDE=prefix)
    # Output to a file, never a pipe: a Wine service started here would hold a pipe open.
    with tempfile.TemporaryFile() as errors:
        for _ in range(5 if check else 1):
            result = subprocess.run([os.path.join(REPO, "tools", "wine-run"), *arguments], env=environment,
                                    stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=errors)
            if result.returncode == 0 or not check:
                return result
            time.sleep(0.5)
        errors.seek(0)
        raise Failure(f"{' '.join(arguments)} failed in {prefix} with {result.returncode}: "
                      f"{errors.read().decode(errors='replace').strip()[-300:]}")


def prepare_prefix(dpi):
    """The project's prefix at 96 DPI; a Windows 10 prefix of its own at any other scale."""
    if dpi == 96:
        return os.path.join(BUILD, "wineprefix")
    prefix = os.path.join(BUILD, f"wineprefix-dpi{dpi}")
    marker = os.path.join(prefix, ".quorvane-ready")
    if not os.path.exists(marker):
        os.makedirs(prefix, exist_ok=True)
        wine(prefix, "wineboot", "-i")
        wine(prefix, "winecfg", "/v", "win10")
        for face in ("Microsoft YaHei UI", "Microsoft YaHei"):
            wine(prefix, "reg", "add", r"HKCU\Software\Wine\Fonts\Replacements", "/v", face,
                 "/d", "WenQuanYi Micro Hei", "/f", check=True)
        wine(prefix, "reg", "add", r"HKCU\Control Panel\Desktop", "/v", "LogPixels", "/t", "REG_DWORD",
             "/d", str(dpi), "/f", check=True)
        open(marker, "w").close()
    # Started here so that Wine's services do not hold the test's output open.
    wine_server("start", prefix)
    return prefix


def stop_prefix(prefix):
    if prefix != os.path.join(BUILD, "wineprefix"):
        wine_server("stop", prefix)


class Screens:
    """Compares or stores the screens at one scale."""

    def __init__(self, dpi, update_references):
        self.dpi = dpi
        self.update = update_references
        self.shots = []

    def keep(self, driver, screen):
        name = f"scale-{self.dpi}-{screen}"
        pixels = capture(driver, name)
        self.shots.append(name)
        # 192 DPI as well: a window sized at 200 % with its texts at 100 % scales no other way.
        if self.dpi not in (96, 192):
            return
        path = os.path.join(SHOTS, name + ".png")
        reference = os.path.join(REFERENCES, screen + ("-192" if self.dpi == 192 else "") + ".png")
        if self.update:
            os.makedirs(REFERENCES, exist_ok=True)
            subprocess.run(["cp", path, reference], check=True)
            return
        if not os.path.exists(reference):
            raise Failure(f"no reference screenshot {reference}")
        expected = subprocess.run(["convert", reference, "-depth", "8", "rgb:-"], check=True,
                                  capture_output=True).stdout
        actual = b"".join(bytes.fromhex("".join(row)) for row in pixels)
        if len(expected) != len(actual):
            raise Failure(f"the {screen} screen at {self.dpi} DPI has another size than {reference}")
        differing = sum(1 for index in range(0, len(actual), 3) if actual[index:index + 3] != expected[index:index + 3])
        if differing:
            raise Failure(f"the {screen} screen at {self.dpi} DPI differs from {reference} in {differing} pixels "
                          f"(see {path})")
        print(f"ok: the {screen} screen at {self.dpi} DPI equals its reference")


class Layout:
    """The controls' points at one DPI, from their 96-DPI rectangles."""

    def __init__(self, driver, dpi):
        s = lambda length: scaled(length, dpi)  # noqa: E731
        w = round(driver.width * 96 / dpi)
        h = round(driver.height * 96 / dpi)
        self.w, self.h, self.dpi = w, h, dpi
        self.primary_centre = (s(w - 74), s(h - 33))
        self.close_centre = (s(w - 184), s(h - 33))
        self.box_centre = (s(33), s(h - 33))
        # A device pixel outside each control's edge, on its centre line.
        self.left_of_primary = (s(w - 124) - 1, s(h - 33))
        self.below_primary = (s(w - 74), s(h - 17))
        self.left_of_close = (s(w - 232) - 1, s(h - 33))
        self.left_of_box = (s(24) - 1, s(h - 33))
        # Pixel probes: inside each control clear of captions and corners, and the bar.
        self.primary = (s(w - 118), s(h - 33))
        self.close = (s(w - 226), s(h - 33))
        self.box = (s(27), s(h - 41))
        self.neutral = (s(w // 2), s(120))

    def bar(self, percent, offset):
        """A point on the bar's centre line, offset device pixels from the fill's end."""
        end = 44 + (self.w - 138) * min(percent, 100) // 100
        return scaled(end, self.dpi) + offset, scaled(174, self.dpi)


def expect_pixels(driver, probes, what, timeout=10):
    deadline = time.time() + timeout
    while True:
        pixels = capture(driver)
        wrong = [(p, c, pixels[p[1]][p[0]]) for p, c in probes if pixels[p[1]][p[0]] != c]
        if not wrong:
            print(f"ok: {what}")
            return
        if time.time() > deadline:
            capture(driver, "mismatch-scale")
            raise Failure(what + ": " + ", ".join(f"{p} is {a}, expected {c}" for p, c, a in wrong))
        time.sleep(0.15)


def expect_unchanged(driver, point, probes, what):
    driver.click(point)
    time.sleep(0.5)
    if driver.process.poll() is not None:
        raise Failure(f"{what}: the window closed")
    expect_pixels(driver, probes, what)


def driver_screens(exe, dpi, screens, client_units):
    """Runs the driven screens at one DPI; returns the client size in pixels."""
    driver = Driver(exe)
    try:
        client_units = client_units or (driver.width, driver.height)
        expected = (scaled(client_units[0], dpi), scaled(client_units[1], dpi))
        if (driver.width, driver.height) != expected:
            raise Failure(f"the client area at {dpi} DPI is {driver.width}x{driver.height}, expected "
                          f"{expected[0]}x{expected[1]} (the 96-DPI {client_units[0]}x{client_units[1]} scaled)")
        print(f"ok: the client area at {dpi} DPI is {driver.width}x{driver.height}")
        # The manifest took effect: the common controls of version 6 and the per-monitor DPI awareness
        # it declares, so that the system does not stretch a bitmap of the window.
        if driver.fields.get("awareness") != "2" or driver.fields.get("comctl32") != "6":
            raise Failure(f"{dpi} DPI: the process has DPI awareness {driver.fields.get('awareness')} and common "
                          f"controls {driver.fields.get('comctl32')}, expected 2 (per monitor) and 6 from the manifest")
        at = Layout(driver, dpi)
        driver.send("post 42 running 正在下载安装程序 42%")
        driver.move(at.neutral)
        expect_pixels(driver, [(at.bar(42, -3), BLUE), (at.bar(42, 3), RULE), (at.box, BLUE), (at.primary, WHITE)],
                      f"{dpi} DPI: the running screen")
        screens.keep(driver, "running")

        expect_unchanged(driver, at.left_of_box, [(at.box, BLUE)], f"{dpi} DPI: a click left of the box does nothing")
        driver.click(at.box_centre)
        expect_pixels(driver, [(at.box, WHITE)], f"{dpi} DPI: a click on the box clears it")
        driver.click(at.box_centre)
        expect_pixels(driver, [(at.box, BLUE)], f"{dpi} DPI: a second click ticks it again")
        for point, where in ((at.left_of_primary, "left of"), (at.below_primary, "below")):
            expect_unchanged(driver, point, [(at.primary, WHITE), (at.box, BLUE)],
                             f"{dpi} DPI: a click just {where} 取消 does nothing")
        if driver.flags()["cancel"] != "0":
            raise Failure(f"{dpi} DPI: a click outside 取消 requested the cancel")
        driver.click(at.primary_centre)
        driver.process.stdin.write(b"wait-cancel\n")
        driver.process.stdin.flush()
        driver.expect("cancel seen")
        driver.move(at.neutral)
        expect_pixels(driver, [(at.bar(42, -3), AMBER), (at.close, WHITE)], f"{dpi} DPI: 取消 cancels the run")
        screens.keep(driver, "cancelled")

        driver.click(at.primary_centre)
        expect_pixels(driver, [(at.bar(5, 3), RULE), (at.box, BLUE)], f"{dpi} DPI: 重新安装 starts a new run")
        driver.send("post 30 running 正在下载安装程序 30%")
        driver.process.stdin.write("fail 无法连接到下载服务器（错误码 12029）\n".encode("utf-8"))
        driver.process.stdin.flush()
        driver.move(at.neutral)
        expect_pixels(driver, [(at.bar(30, -3), RED), (at.close, WHITE)], f"{dpi} DPI: the failed screen")
        screens.keep(driver, "failed")
        expect_unchanged(driver, at.left_of_close, [(at.bar(30, -3), RED), (at.close, WHITE)],
                         f"{dpi} DPI: a click just left of 关闭 does nothing")
        driver.click(at.close_centre)
        expect_exit_zero(driver, f"{dpi} DPI: 关闭")
        return driver.width, driver.height
    finally:
        driver.stop()


def size_of(text):
    return tuple(int(value) for value in text.split("x"))


def dpi_change(exe, target_dpi, target_client):
    """At 96 DPI, a WM_DPICHANGED to target_dpi with a suggested rectangle that
    holds target_client: the window takes it and paints the screen that a window
    at that DPI paints."""
    driver = Driver(exe)
    try:
        outer, client = size_of(driver.fields["outer"]), (driver.width, driver.height)
        suggested = (target_client[0] + outer[0] - client[0], target_client[1] + outer[1] - client[1])
        driver.send("post 42 running 正在下载安装程序 42%")
        driver.move((driver.width // 2, 120))
        driver.process.stdin.write(f"dpi {target_dpi} {suggested[0]} {suggested[1]}\n".encode())
        driver.process.stdin.flush()
        fields = dict(part.split("=") for part in driver.expect("dpi ").split()[1:])
        driver.expect("done dpi")
        if size_of(fields["outer"]) != suggested or size_of(fields["client"]) != target_client:
            raise Failure(f"after WM_DPICHANGED the window is {fields['outer']} outside and {fields['client']} "
                          f"inside, expected the suggested {suggested[0]}x{suggested[1]} holding "
                          f"{target_client[0]}x{target_client[1]}")
        driver.width, driver.height = target_client
        driver.move((driver.width // 2, scaled(120, target_dpi)))
        time.sleep(0.5)
        name = f"scale-96-to-{target_dpi}-running"
        actual = capture(driver, name)
        expected_path = os.path.join(SHOTS, f"scale-{target_dpi}-running.png")
        expected = subprocess.run(["convert", expected_path, "-depth", "8", "rgb:-"], check=True,
                                  capture_output=True).stdout
        differing = sum(1 for y, row in enumerate(actual) for x, colour in enumerate(row)
                        if expected[(y * driver.width + x) * 3:(y * driver.width + x) * 3 + 3].hex().upper() != colour)
        if differing:
            raise Failure(f"after WM_DPICHANGED to {target_dpi} the screen differs from the one painted at "
                          f"{target_dpi} DPI in {differing} pixels (see {name}.png)")
        print(f"ok: WM_DPICHANGED to {target_dpi} DPI: the window takes the suggested size and paints as at "
              f"{target_dpi} DPI")
    finally:
        driver.stop()


def set_build(prefix, build):
    for value in ("CurrentBuild", "CurrentBuildNumber"):
        wine(prefix, "reg", "add", r"HKLM\Software\Microsoft\Windows NT\CurrentVersion", "/v", value,
             "/t", "REG_SZ", "/d", build, "/f", check=True)


def unsupported_screen(setup_exe, probe_exe, prefix, dpi, screens, client_units):
    """The real program on Windows 10 build 17762, one short of the oldest supported."""
    set_build(prefix, "17762")
    environment = dict(os.environ, WINEPREFIX_OVERRIDE=prefix)
    wine_run = os.path.join(REPO, "tools", "wine-run")
    process = subprocess.Popen([wine_run, setup_exe], env=environment, stdin=subprocess.DEVNULL,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        probe = subprocess.run([wine_run, probe_exe, "30"], env=environment, capture_output=True, text=True,
                               stdin=subprocess.DEVNULL)
        if probe.returncode != 0:
            raise Failure(f"{dpi} DPI: the unsupported screen did not appear")
        fields = dict(item.split("=") for item in probe.stdout.split())
        window = type("Window", (), {})()
        window.x, window.y = (int(value) for value in fields["origin"].split(","))
        window.width, window.height = (int(value) for value in fields["client"].split("x"))
        expected = (scaled(client_units[0], dpi), scaled(client_units[1], dpi))
        if (window.width, window.height) != expected:
            raise Failure(f"the unsupported client area at {dpi} DPI is {window.width}x{window.height}, "
                          f"expected {expected[0]}x{expected[1]}")
        xdotool("mousemove", str(window.x + window.width // 2), str(window.y + scaled(120, dpi)))
        time.sleep(1)  # time for a run to show itself, had one been started
        w = round(window.width * 96 / dpi)
        expect_pixels(window, [((scaled(w - 100, dpi), scaled(174, dpi)), WHITE)],
                      f"{dpi} DPI: the unsupported screen has no progress bar")
        screens.keep(window, "unsupported")
        h = round(window.height * 96 / dpi)
        xdotool("mousemove", str(window.x + scaled(w - 74, dpi)), str(window.y + scaled(h - 33, dpi)), "click", "1")
        if process.wait(timeout=15) != 0:
            raise Failure(f"{dpi} DPI: 关闭 on the unsupported screen ended with {process.returncode}")
        print(f"ok: {dpi} DPI: the unsupported screen is {window.width}x{window.height} and 关闭 closes it")
    finally:
        if process.poll() is None:
            process.kill()
        set_build(prefix, "18362")


def main():
    if not os.environ.get("DISPLAY"):
        print("no DISPLAY: run through tools/test.sh, which starts Xvfb")
        return 1
    driver_exe, setup_exe, probe_exe = sys.argv[1:4]
    update = "--update-references" in sys.argv
    scales = [int(value) for value in sys.argv[sys.argv.index("--only") + 1].split(",")] if "--only" in sys.argv \
        else SCALES
    os.makedirs(SHOTS, exist_ok=True)
    units = {}
    try:
        for dpi in scales:
            prefix = prepare_prefix(dpi)
            os.environ["WINEPREFIX_OVERRIDE"] = prefix
            try:
                screens = Screens(dpi, update)
                units[f"running{dpi}"] = driver_screens(driver_exe, dpi, screens, units.get("running96"))
                # The unsupported window is 50 pixels taller outside at 96 DPI, and so inside.
                units.setdefault("unsupported", (units["running96"][0], units["running96"][1] + 50))
                unsupported_screen(setup_exe, probe_exe, prefix, dpi, screens, units["unsupported"])
            finally:
                stop_prefix(prefix)
                os.environ.pop("WINEPREFIX_OVERRIDE", None)
        if 96 in scales and 144 in scales:
            dpi_change(driver_exe, 144, units["running144"])
    except Failure as failure:
        print(f"FAIL: {failure}")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
