#!/usr/bin/env python3
"""Reads the PE header of the built installer: ASLR with high entropy and DEP
stay on, the relocations that ASLR needs are present, and the loader binds
nothing at start-up but kernel32 and the C runtime: every other DLL, and with
it whatever that DLL imports, is delay-loaded (cmake/DelayLoad.cmake).

    executable_hardening.py QuorvaneSetup.exe
"""
import struct
import sys

DYNAMIC_BASE = 0x0040
HIGH_ENTROPY_VA = 0x0020
NX_COMPAT = 0x0100
RELOCS_STRIPPED = 0x0001

START_UP_IMPORTS = {"kernel32.dll", "msvcrt.dll"}


def read_pe(path):
    data = open(path, "rb").read()
    header = struct.unpack_from("<I", data, 0x3C)[0]
    if data[header:header + 4] != b"PE\0\0":
        sys.exit(f"FAIL: {path} is not a PE file")
    machine, sections, _, _, _, optional_size, characteristics = struct.unpack_from("<HHIIIHH", data, header + 4)
    optional = header + 24
    if struct.unpack_from("<H", data, optional)[0] != 0x20B:
        sys.exit("FAIL: not a PE32+ executable")
    dll_characteristics = struct.unpack_from("<H", data, optional + 70)[0]
    directories = [struct.unpack_from("<II", data, optional + 112 + 8 * index) for index in range(16)]
    table = optional + optional_size
    section_list = []
    for index in range(sections):
        virtual_size, virtual_address, raw_size, raw_offset = struct.unpack_from("<IIII", data, table + 40 * index + 8)
        section_list.append((virtual_address, max(virtual_size, raw_size), raw_offset))

    def offset_of(rva):
        for address, size, raw in section_list:
            if address <= rva < address + size:
                return rva - address + raw
        sys.exit(f"FAIL: address {rva:#x} lies in no section")

    def text_at(rva):
        start = offset_of(rva)
        return data[start:data.index(b"\0", start)].decode("ascii")

    imports = []
    import_rva, import_size = directories[1]
    if import_size:
        entry = offset_of(import_rva)
        while True:
            name_rva = struct.unpack_from("<I", data, entry + 12)[0]
            if name_rva == 0:
                break
            imports.append(text_at(name_rva).lower())
            entry += 20
    return characteristics, dll_characteristics, directories[5], imports


def main():
    path = sys.argv[1]
    characteristics, dll_characteristics, relocations, imports = read_pe(path)
    failures = []
    for flag, name in ((DYNAMIC_BASE, "DYNAMIC_BASE"), (HIGH_ENTROPY_VA, "HIGH_ENTROPY_VA"), (NX_COMPAT, "NX_COMPAT")):
        if not dll_characteristics & flag:
            failures.append(f"DllCharacteristics {dll_characteristics:#06x} lacks {name}")
    if characteristics & RELOCS_STRIPPED or relocations[1] == 0:
        failures.append("the base relocations are missing, so ASLR cannot move the image")
    unknown = sorted(set(imports) - START_UP_IMPORTS)
    if unknown:
        failures.append("imported at start-up from the search path, not delay-loaded: " + ", ".join(unknown))
    if failures:
        print("FAIL: " + "\nFAIL: ".join(failures))
        return 1
    print(f"ok: DllCharacteristics {dll_characteristics:#06x}, relocations {relocations[1]} bytes, "
          f"start-up imports {', '.join(sorted(imports))}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
