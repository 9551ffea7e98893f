#!/usr/bin/env python3
"""Counts the fixed failure texts that the fault tests saw the system produce.

The texts are those of tests/faults/failure_texts.txt. The list is first held
against the sources of files/, net/ and pipeline/: every listed text must be
spelled there, and every Chinese (or "... failed") text there must be listed,
so that a new failure text cannot go uncounted. Then each text is looked for
in the messages the fault tests observed (<build>/failure-coverage/observed.txt,
written by tests/faults). Prints the figure and the texts not covered; exits 1
when fewer than --minimum are covered or the list disagrees with the sources.

    python3 tools/faults/failure_coverage.py --observed build/failure-coverage/observed.txt --minimum N
"""

import argparse
import pathlib
import re
import sys

REPOSITORY = pathlib.Path(__file__).resolve().parents[2]
CATALOGUE = REPOSITORY / "tests" / "faults" / "failure_texts.txt"
PRODUCT_FOLDERS = ("files", "net", "pipeline")
LITERAL = re.compile(r'L?"((?:[^"\\]|\\.)*)"')
WORTH_LISTING = re.compile(r"[\u4e00-\u9fff\uff00-\uffef]|failed")


def read_catalogue():
    entries = []
    for number, line in enumerate(CATALOGUE.read_text(encoding="utf-8").splitlines(), 1):
        if not line or line.startswith("#"):
            continue
        fields = line.split("\t")
        if len(fields) < 2 or fields[0] not in ("exact", "code", "number", "contains", "other"):
            sys.exit(f"{CATALOGUE}:{number}: expected 'kind<TAB>text[<TAB>reason]'")
        entries.append({"kind": fields[0], "text": fields[1], "reason": fields[2] if len(fields) > 2 else ""})
    return entries


def progress_texts(path, source):
    """Where the run's progress texts stand in a source: the block of stage_texts.h that begins
    with the comment "// Progress texts" and ends at the next blank line."""
    if path.name != "stage_texts.h":
        return range(0)
    start = source.find("// Progress texts")
    if start < 0:
        return range(0)
    end = source.find("\n\n", start)
    return range(start, len(source) if end < 0 else end)


def source_literals():
    """Every string literal of the product's pipeline-side code, and those of them a user could read."""
    every, found = set(), set()
    for folder in PRODUCT_FOLDERS:
        for path in sorted((REPOSITORY / folder).rglob("*")):
            if path.suffix not in (".cpp", ".h"):
                continue
            source = path.read_text(encoding="utf-8")
            progress = progress_texts(path, source)
            for literal in LITERAL.finditer(source):
                text = literal.group(1)
                every.add(text)
                # The progress texts are wide constants; the failure texts beside them are not skipped.
                if literal.start() in progress and literal.group(0).startswith("L"):
                    continue
                if WORTH_LISTING.search(text):
                    found.add(text)
    return every, found


def covered(entry, observed):
    text, kind = entry["text"], entry["kind"]
    for message in observed:
        if kind == "exact" and message == text:
            return True
        if kind == "code" and message.startswith(text + "（错误码 "):
            return True
        if kind == "number" and message.startswith(text) and message[len(text):len(text) + 1].isdigit():
            return True
        if kind == "contains" and text in message:
            return True
    return False


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--observed", required=True, type=pathlib.Path)
    parser.add_argument("--minimum", type=int, default=0)
    arguments = parser.parse_args()

    entries = read_catalogue()
    failures = [entry for entry in entries if entry["kind"] != "other"]
    problems = []

    every_literal, literals = source_literals()
    listed = {entry["text"] for entry in entries}
    for entry in failures:
        if entry["kind"] != "contains" and entry["text"] not in every_literal:
            problems.append(f"listed but not in the sources: {entry['text']}")
    for text in sorted(literals - listed):
        problems.append(f"in the sources but not listed in {CATALOGUE.name}: {text}")

    if not arguments.observed.exists():
        problems.append(f"{arguments.observed} is missing: run the fault tests first (ctest -R fault_tests)")
        observed = []
    else:
        observed = arguments.observed.read_text(encoding="utf-8").splitlines()

    hits = [entry for entry in failures if covered(entry, observed)]
    missed = [entry for entry in failures if not covered(entry, observed)]
    print(f"failure texts covered: {len(hits)} of {len(failures)}")
    for entry in missed:
        why = entry["reason"] or "NOT EXPLAINED: a test should cause it"
        print(f"  not covered: {entry['text']} ({why})")
    for entry in missed:
        if not entry["reason"]:
            problems.append(f"not covered although no reason is listed: {entry['text']}")
    if len(hits) < arguments.minimum:
        problems.append(f"coverage dropped: {len(hits)} covered, at least {arguments.minimum} expected")

    for problem in problems:
        print(f"error: {problem}", file=sys.stderr)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
