#!/usr/bin/env python3
"""What the linked QuorvaneSetup.exe is made of, from the linker's map file:
the bytes of the kept input sections summed by output section, by object file
(an archive member counts as "archive(member)"), and by symbol (one section a
function or datum, since everything is compiled with -ffunction-sections and
-fdata-sections).

    python3 bench/size_map.py build/ui/QuorvaneSetup.map [--top 25]
"""

import argparse
import os
import re
import sys

# An input section: " .name  0xADDRESS  0xSIZE  file", or its name alone on one
# line and the rest on the next when the name is long.
SECTION = re.compile(r"^ (\.\S+|COMMON)\s*$|^ (\.\S+|COMMON)\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s+(.+)$")
CONTINUED = re.compile(r"^\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s+(.+)$")
OUTPUT = ("text", "data", "rdata", "pdata", "xdata", "bss", "idata", "CRT", "tls", "rsrc")


def where(path):
    """A short name for an object: the archive's file name and its member, or
    the object's path below the build's CMakeFiles folder."""
    archive = re.match(r"(.*)\((.*)\)$", path)
    if archive:
        return f"{os.path.basename(archive.group(1))}({archive.group(2)})"
    return re.sub(r"^.*CMakeFiles/", "", path)


def output_section(name):
    stem = name.lstrip(".").split("$")[0].split(".")[0]
    return stem if stem in OUTPUT else "other"


def read(path):
    """(section name, output section, size, object) for every kept section."""
    sections = []
    pending = None
    started = False
    with open(path, errors="replace") as stream:
        for line in stream:
            if line.startswith("Linker script and memory map"):
                started = True
                continue
            if not started:
                continue
            if pending:
                continued = CONTINUED.match(line)
                if continued and int(continued.group(1), 16):
                    sections.append((pending, output_section(pending), int(continued.group(2), 16),
                                     where(continued.group(3).strip())))
                pending = None
                continue
            match = SECTION.match(line)
            if not match:
                continue
            if match.group(1):
                pending = match.group(1)
            elif int(match.group(3), 16):  # address 0: not placed in the image
                name = match.group(2)
                sections.append((name, output_section(name), int(match.group(4), 16), where(match.group(5).strip())))
    return sections


def table(title, totals, top):
    print(f"\n{title}")
    for key, size in sorted(totals.items(), key=lambda item: -item[1])[:top]:
        print(f"  {size:9,d}  {key}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("map")
    parser.add_argument("--top", type=int, default=25)
    options = parser.parse_args()
    sections = read(options.map)
    if not sections:
        sys.exit(f"{options.map}: no placed input sections found")
    by_output, by_object, by_library, by_symbol = {}, {}, {}, {}
    for name, output, size, source in sections:
        by_output[output] = by_output.get(output, 0) + size
        by_object[source] = by_object.get(source, 0) + size
        library = source.split("(")[0] if "(" in source else "the setup's own objects"
        by_library[library] = by_library.get(library, 0) + size
        symbol = re.sub(r"^\.[a-z]+[$.]", "", name) if re.match(r"^\.[a-z]+[$.]", name) else f"{name} of {source}"
        by_symbol[symbol] = by_symbol.get(symbol, 0) + size
    print(f"{sum(by_output.values()):,d} bytes in {len(sections)} input sections")
    table("by output section", by_output, options.top)
    table("by library", by_library, options.top)
    table("by object", by_object, options.top)
    table("by symbol (mangled)", by_symbol, options.top)


if __name__ == "__main__":
    main()
