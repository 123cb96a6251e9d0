#!/usr/bin/env python3
"""Writes the portable package: TarnDriver for use without installing or
registering anything, copied into a user's own application folder.

  x86/, x64/   TarnDriver.DLL with its assembly manifest (TarnDriver.manifest),
               the scripting kit, and a sample application manifest
               (MyApplication.exe.manifest) that depends on TarnDriver
  SDK/         what a C++ client builds from, the samples and the docs, as
               the installers ship them (sdk_files.py)

usage: build_portable.py --version V --source ROOT --x86 BUILD --x64 BUILD --output FILE.zip
"""

import argparse
import os
import sys
import tempfile

import generate_manifest
import release_zip
import sdk_files

MODULE_FILES = ("TarnDriver.DLL", "TarnDriver.manifest", "TarnKit.dll", "TarnPanel.exe")

README = """TarnDriver {version}, portable: nothing to install, nothing to register.

Copy x64\\ (64-bit programs) or x86\\ (32-bit programs) into your application's
folder: TarnDriver.DLL with TarnDriver.manifest, which describes its classes to
Windows.  Then either
  - give your program an application manifest that depends on TarnDriver
    (MyApplication.exe.manifest is one: rename it after your program, or embed
    it as its RT_MANIFEST resource), or
  - activate TarnDriver.manifest yourself (CreateActCtx, ActivateActCtx) around
    the code that creates TarnDriver objects: plug-ins and hosts you do not build.
Scripts (cscript, wscript) and Office VBA cannot use it this way: they need the
installer.  SDK\\docs\\getting-started.md, "Without registration", says more.
"""


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    for name in ("--version", "--source", "--x86", "--x64", "--output"):
        parser.add_argument(name, required=True)
    args = parser.parse_args()
    builds = {"x86": args.x86, "x64": args.x64}
    entries = []  # (name in the archive, file on disk)
    with tempfile.TemporaryDirectory() as scratch:
        for arch, build in builds.items():
            for name in MODULE_FILES:
                path = os.path.join(build, "bin", name)
                if not os.path.isfile(path):
                    raise SystemExit(f"no {path}: build {arch} first")
                entries.append((f"{arch}/{name}", path))
            sample = os.path.join(scratch, arch, "MyApplication.exe.manifest")
            generate_manifest.write(generate_manifest.application_manifest(
                generate_manifest.assembly_version(args.version), arch, "MyCompany.MyApplication"), sample)
            entries.append((f"{arch}/MyApplication.exe.manifest", sample))
        for relative, paths in sdk_files.sdk_files(args.x86, args.source).items():
            entries += [(f"SDK/{relative}/{os.path.basename(p)}", p) for p in paths]
        readme = README.format(version=args.version).replace("\n", "\r\n")
        release_zip.write(args.output, entries, texts=[("README.txt", readme)])


if __name__ == "__main__":
    sys.exit(main())
