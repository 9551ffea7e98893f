#!/usr/bin/env python3
"""Builds a variant of the stand-in installer: installer exe + product exe + trailer.

usage: make_installer.py INSTALLER PRODUCT OUTPUT [--exit-code N] [--run-ms N]
Prints the variant's size and SHA-256.
"""
import argparse
import hashlib
import struct

MAGIC = b"QVSTAND1"


def trailer(product_size: int, exit_code: int, run_ms: int) -> bytes:
    return MAGIC + struct.pack("<QII", product_size, exit_code & 0xFFFFFFFF, run_ms)


def build(installer: bytes, product: bytes, exit_code: int, run_ms: int) -> bytes:
    return installer + product + trailer(len(product), exit_code, run_ms)


def main() -> None:
    parser = argparse.ArgumentParser()
    parser.add_argument("installer")
    parser.add_argument("product")
    parser.add_argument("output")
    parser.add_argument("--exit-code", type=lambda text: int(text, 0), default=0)
    parser.add_argument("--run-ms", type=int, default=0)
    arguments = parser.parse_args()
    with open(arguments.installer, "rb") as stream:
        installer = stream.read()
    with open(arguments.product, "rb") as stream:
        product = stream.read()
    data = build(installer, product, arguments.exit_code, arguments.run_ms)
    with open(arguments.output, "wb") as stream:
        stream.write(data)
    print(len(data), hashlib.sha256(data).hexdigest())


if __name__ == "__main__":
    main()
