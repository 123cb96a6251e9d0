#!/usr/bin/env python3
"""Writes TarnDriver-<version>-symbols.zip: the debug information of every
shipped module, x86/NAME.debug and x64/NAME.debug, which the modules name in
their .gnu_debuglink sections.  A debugger given these files beside the
modules shows the library's functions and lines in a backtrace.

usage: build_symbols.py --x86 BUILD --x64 BUILD --output FILE.zip
"""

import argparse
import os
import sys

import release_zip


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    for name in ("--x86", "--x64", "--output"):
        parser.add_argument(name, required=True)
    args = parser.parse_args()
    files = []
    for arch, build in (("x86", args.x86), ("x64", args.x64)):
        listing = os.path.join(build, "shipped-modules.txt")
        if not os.path.isfile(listing):
            raise SystemExit(f"no {listing}: build {arch} first")
        for module in filter(None, open(listing, encoding="utf-8").read().split("\n")):
            symbols = module + ".debug"
            if not os.path.isfile(symbols):
                raise SystemExit(f"no {symbols}: build {arch} first")
            files.append((f"{arch}/{os.path.basename(symbols)}", symbols))
    release_zip.write(args.output, files)


if __name__ == "__main__":
    sys.exit(main())
