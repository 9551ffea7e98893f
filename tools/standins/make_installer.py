#!/usr/bin/env python3
"""Builds a variant of the stand-in installer: installer exe + product exe + trailer.

usage: make_installer.py INSTALLER PRODUCT OUTPUT [--exit-code N] [--run-ms N] [--version V]
Prints the variant's size and SHA-256. The variant's version block names V
(default 2026.12.0) as its ProductVersion and, read as up to four numbers, as
its fixed product and file version.
"""
import argparse
import hashlib
import struct

MAGIC = b"QVSTAND1"
PLACEHOLDER = "@QV-STAND-IN-VERSION-PLACEHOLDER@".encode("utf-16-le")
FIXED_INFO_SIGNATURE = 0xFEEF04BD


def fixed_version(version: str):
    """The four numbers of a version text; a part that is no number counts as 0."""
    parts = [int(part) if part.isdigit() and int(part) < 65536 else 0 for part in version.split(".")[:4]]
    parts += [0] * (4 - len(parts))
    return (parts[0] << 16 | parts[1], parts[2] << 16 | parts[3])


def stamp_version(installer: bytes, version: str) -> bytes:
    """The stand-in with its placeholder version replaced by version, in the string table and the fixed info."""
    text = version.encode("utf-16-le")
    if len(text) > len(PLACEHOLDER) or installer.count(PLACEHOLDER) != 1:
        raise ValueError(f"cannot stamp version {version!r} into the stand-in installer")
    data = bytearray(installer.replace(PLACEHOLDER, text + bytes(len(PLACEHOLDER) - len(text))))
    key = "VS_VERSION_INFO\0".encode("utf-16-le")
    block = data.find(key) - 6
    value = block + (6 + len(key) + 3) // 4 * 4
    if block < 0 or struct.unpack_from("<I", data, value)[0] != FIXED_INFO_SIGNATURE:
        raise ValueError("the stand-in installer has no version block")
    most, least = fixed_version(version)
    struct.pack_into("<IIII", data, value + 8, most, least, most, least)
    return bytes(data)


def trailer(product_size: int, exit_code: int, run_ms: int) -> bytes:
    return MAGIC + struct.pack("<QII", product_size, exit_code & 0xFFFFFFFF, run_ms)


def build(installer: bytes, product: bytes, exit_code: int, run_ms: int, version: str = "2026.12.0") -> bytes:
    return stamp_version(installer, version) + product + trailer(len(product), exit_code, run_ms)


def main() -> None:
    parser = argparse.ArgumentParser()
    parser.add_argument("installer")
    parser.add_argument("product")
    parser.add_argument("output")
    parser.add_argument("--exit-code", type=lambda text: int(text, 0), default=0)
    parser.add_argument("--run-ms", type=int, default=0)
    parser.add_argument("--version", default="2026.12.0")
    arguments = parser.parse_args()
    with open(arguments.installer, "rb") as stream:
        installer = stream.read()
    with open(arguments.product, "rb") as stream:
        product = stream.read()
    data = build(installer, product, arguments.exit_code, arguments.run_ms, arguments.version)
    with open(arguments.output, "wb") as stream:
        stream.write(data)
    print(len(data), hashlib.sha256(data).hexdigest())


if __name__ == "__main__":
    main()
