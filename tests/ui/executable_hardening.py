#!/usr/bin/env python3
"""Reads the PE header of the built installer: ASLR with high entropy and DEP
stay on, the relocations that ASLR needs are present, and the loader binds
nothing at start-up but kernel32 and the C runtime: every other DLL, and with
it whatever that DLL imports, is delay-loaded, exactly the DLLs that
cmake/DelayLoad.cmake lists. Every imported function, fixed or delay-loaded,
is on import_allowlist.txt beside this file, which says Windows 7 or older for
each, and every entry there is imported.

    executable_hardening.py QuorvaneSetup.exe
"""
import os
import re
import struct
import sys

DYNAMIC_BASE = 0x0040
HIGH_ENTROPY_VA = 0x0020
NX_COMPAT = 0x0100
RELOCS_STRIPPED = 0x0001

START_UP_IMPORTS = {"kernel32.dll", "msvcrt.dll"}
ALLOWLIST = os.path.join(os.path.dirname(os.path.abspath(__file__)), "import_allowlist.txt")
DELAY_LOAD = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "cmake", "DelayLoad.cmake")
OLD_ENOUGH = ("Windows 2000", "Windows XP", "Windows Vista", "Windows 7")


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

    def names_at(thunks_rva):
        """The function names of an import name table, ordinals as #N."""
        names, entry = [], offset_of(thunks_rva)
        while (thunk := struct.unpack_from("<Q", data, entry)[0]) != 0:
            names.append(f"#{thunk & 0xFFFF}" if thunk >> 63 else text_at((thunk & 0x7FFFFFFF) + 2))
            entry += 8
        return names

    imports = {}
    import_rva, import_size = directories[1]
    if import_size:
        entry = offset_of(import_rva)
        while True:
            lookup_rva, _, _, name_rva = struct.unpack_from("<IIII", data, entry)
            if name_rva == 0:
                break
            imports[text_at(name_rva).lower()] = names_at(lookup_rva)
            entry += 20
    # MinGW's delay-load libraries leave the delay-import directory empty, so
    # the descriptors are found by their shape: attributes 1 (addresses are
    # RVAs), a DLL name, a name table, and no bound table, unload table or stamp.
    delayed = {}
    for address, size, raw in section_list:
        for start in range(raw, raw + size - 32, 4):
            attributes, name_rva, _, _, names_rva, bound, unload, stamp = struct.unpack_from("<8I", data, start)
            if attributes != 1 or bound or unload or stamp or not name_rva or not names_rva:
                continue
            if not any(a <= name_rva < a + s_ for a, s_, _ in section_list):
                continue
            name = data[offset_of(name_rva):data.find(b"\0", offset_of(name_rva))]
            if name.lower().endswith(b".dll") and name.isascii():
                delayed[name.decode().lower()] = names_at(names_rva)
    return characteristics, dll_characteristics, directories[5], imports, delayed


def allowlist_failures(imports, delayed):
    listed, failures = {}, []
    for line in open(ALLOWLIST, encoding="utf-8"):
        if line.strip() and not line.startswith("#"):
            dll, function, oldest = line.split(None, 2)
            listed[(dll, function)] = oldest.strip()
            if oldest.strip() not in OLD_ENOUGH:
                failures.append(f"{dll} {function} needs {oldest.strip()}: look it up at run time instead")
    imported = {(dll, function) for dll, functions in {**imports, **delayed}.items() for function in functions}
    for dll, function in sorted(imported - set(listed)):
        failures.append(f"{dll} {function} is imported but not on {os.path.basename(ALLOWLIST)}")
    for dll, function in sorted(set(listed) - imported):
        failures.append(f"{dll} {function} is on {os.path.basename(ALLOWLIST)} but no longer imported: remove it")
    return failures


def delay_load_list():
    """The DLLs cmake/DelayLoad.cmake makes delay-load libraries for."""
    text = open(DELAY_LOAD, encoding="utf-8").read()
    found = re.search(r"foreach\(dll ([^)]*)\)", text)
    if not found:
        sys.exit(f"FAIL: no foreach(dll ...) list in {DELAY_LOAD}")
    return {dll + ".dll" for dll in found.group(1).split()}


def main():
    path = sys.argv[1]
    characteristics, dll_characteristics, relocations, imports, delayed = read_pe(path)
    failures = []
    for flag, name in ((DYNAMIC_BASE, "DYNAMIC_BASE"), (HIGH_ENTROPY_VA, "HIGH_ENTROPY_VA"), (NX_COMPAT, "NX_COMPAT")):
        if not dll_characteristics & flag:
            failures.append(f"DllCharacteristics {dll_characteristics:#06x} lacks {name}")
    if characteristics & RELOCS_STRIPPED or relocations[1] == 0:
        failures.append("the base relocations are missing, so ASLR cannot move the image")
    unknown = sorted(set(imports) - START_UP_IMPORTS)
    # A DLL that the scan by shape misses would go unchecked.
    expected = delay_load_list()
    if set(delayed) != expected:
        failures.append(f"delay-loaded DLLs found {', '.join(sorted(delayed))}, but cmake/DelayLoad.cmake lists "
                        f"{', '.join(sorted(expected))}")
    failures += allowlist_failures(imports, delayed)
    if unknown:
        failures.append("imported at start-up from the search path, not delay-loaded: " + ", ".join(unknown))
    if failures:
        print("FAIL: " + "\nFAIL: ".join(failures))
        return 1
    count = sum(len(functions) for functions in {**imports, **delayed}.values())
    print(f"ok: DllCharacteristics {dll_characteristics:#06x}, relocations {relocations[1]} bytes, "
          f"start-up imports {', '.join(sorted(imports))}, {len(delayed)} DLLs delay-loaded, "
          f"{count} functions all on the allow-list for Windows 7")
    return 0


if __name__ == "__main__":
    sys.exit(main())
