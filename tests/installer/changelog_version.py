#!/usr/bin/env python3
"""Checks CHANGELOG.md against the version the packages carry: an optional
"Unreleased" entry first, then released entries "## [A.B.C.D] - YYYY-MM-DD",
newest first, the top one naming that version.

usage: changelog_version.py CHANGELOG.md VERSION"""

import re
import sys

HEADING = re.compile(r"^## \[(?P<name>[^\]]+)\](?: - (?P<date>\d{4}-\d{2}-\d{2}))?\s*$")


def problems(text, version):
    entries = [HEADING.match(line) for line in text.splitlines()]
    entries = [e for e in entries if e]
    if entries and entries[0]["name"] == "Unreleased":
        entries = entries[1:]
    if not entries:
        return ["no released entry"]
    found = []
    for entry in entries:
        if not re.fullmatch(r"\d+\.\d+\.\d+\.\d+", entry["name"]) or not entry["date"]:
            found.append(f"'## [{entry['name']}]' is not '## [A.B.C.D] - YYYY-MM-DD' (or a first 'Unreleased')")
    if found:
        return found
    numbers = [tuple(int(p) for p in e["name"].split(".")) for e in entries]
    if numbers != sorted(numbers, reverse=True) or len(set(numbers)) != len(numbers):
        found.append("released entries are not newest first: " + ", ".join(e["name"] for e in entries))
    if entries[0]["name"] != version:
        found.append(f"the top released entry is {entries[0]['name']}, the packages carry {version}")
    return found


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__.split("\n\n")[-1])
    with open(sys.argv[1], encoding="utf-8") as changelog:
        found = problems(changelog.read(), sys.argv[2])
    for problem in found:
        print(f"{sys.argv[1]}: {problem}", file=sys.stderr)
    print(f"change log and version {sys.argv[2]}: " + ("disagree" if found else "agree"))
    sys.exit(1 if found else 0)


if __name__ == "__main__":
    main()
