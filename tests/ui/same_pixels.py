#!/usr/bin/env python3
"""Compares the window of two builds of window_driver.exe pixel for pixel on
the same screens without keyboard use: running at 42 %, the primary button
hovered, and a failed run. Not a ctest entry: it needs a second build.

    QV_BUILD_DIR=build same_pixels.py OTHER_WINDOW_DRIVER_EXE WINDOW_DRIVER_EXE
"""
import sys
import time

import window_input as w


def screens(exe, tag):
    driver = w.Driver(exe)
    taken = {}
    try:
        driver.move((driver.width // 2, 120))
        driver.send("post 42 running 正在下载安装程序 42%")
        time.sleep(0.6)
        taken["running"] = w.capture(driver, f"same-{tag}-running")
        driver.move(driver.primary_centre)
        time.sleep(0.5)
        taken["hover"] = w.capture(driver, f"same-{tag}-hover")
        driver.move((driver.width // 2, 120))
        driver.process.stdin.write("fail 无法连接到下载服务器（错误码 12029）\n".encode("utf-8"))
        driver.process.stdin.flush()
        time.sleep(0.6)
        taken["failed"] = w.capture(driver, f"same-{tag}-failed")
    finally:
        driver.stop()
    return taken


def main():
    first, second = screens(sys.argv[1], "first"), screens(sys.argv[2], "second")
    differing = 0
    for name, pixels in first.items():
        count = sum(1 for a, b in zip(pixels, second[name]) for x, y in zip(a, b) if x != y)
        differing += count
        print(f"{name}: {len(pixels[0])} x {len(pixels)} pixels, {count} differ")
    return 1 if differing else 0


if __name__ == "__main__":
    sys.exit(main())
