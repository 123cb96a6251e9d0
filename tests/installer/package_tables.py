#!/usr/bin/env python3
"""The x86 installer's tables, read on the build machine (msitools): what
makes it a package for 32-bit Windows that installs this x86 build, checked
where its install test cannot run as much as where it can.

usage: package_tables.py PACKAGE.msi X86_BUILD VERSION
"""

import filecmp
import os
import re
import subprocess
import sys
import tempfile

MSIDB_COMPONENT_64BIT = 0x100
X64_UPGRADE_CODE = "{EA6F5AEF-9E79-4930-AFD4-86DD8CD0E3B8}"


def table(package, name):
    """The rows of one table as dictionaries (msiinfo export: names, types, key, then rows)."""
    text = subprocess.run(["msiinfo", "export", package, name], check=True, capture_output=True,
                          text=True).stdout
    lines = text.replace("\r", "").split("\n")
    columns = lines[0].split("\t")
    return [dict(zip(columns, line.split("\t"))) for line in lines[3:] if line]


def classes_of(build):
    """{CLSID: threading model} from the build's registrar scripts."""
    folder = os.path.join(build, "src", "generated")
    found = {}
    for name in sorted(n for n in os.listdir(folder) if n.endswith(".rgs")):
        text = open(os.path.join(folder, name), encoding="utf-8").read()
        found[re.search(r"ForceRemove (\{[0-9A-F-]{36}\})", text, re.I).group(1)] = \
            re.search(r"ThreadingModel = s '([^']*)'", text).group(1)
    return found


def checks(package, build, version):
    """(what, whether it holds) for each property of the package."""
    summary = subprocess.run(["msiinfo", "suminfo", package], check=True, capture_output=True, text=True).stdout
    properties = {row["Property"]: row["Value"] for row in table(package, "Property")}
    components = table(package, "Component")
    directories = {row["Directory"]: row for row in table(package, "Directory")}
    files = {row["File"]: row for row in table(package, "File")}
    registry = {(row["Key"], row["Name"]): row["Value"] for row in table(package, "Registry")}
    conditions = [row["Condition"] for row in table(package, "LaunchCondition")]
    module = files.get("TarnDriver_x86", {})
    module_component = next((c for c in components if c["Component"] == module.get("Component_")), {})
    yield "the platform is Intel (32-bit)", re.search(r"^Template: Intel;", summary, re.M) is not None
    yield f"the version is {version}", properties.get("ProductVersion") == version
    yield "an upgrade code of its own, not the x64 package's", properties.get("UpgradeCode") not in (None, X64_UPGRADE_CODE)
    yield "it refuses 64-bit Windows", any("NOT VersionNT64" in c for c in conditions)
    yield "no 64-bit component", components and all(not int(c["Attributes"]) & MSIDB_COMPONENT_64BIT for c in components)
    yield "no 64-bit folder", not any(d.startswith("ProgramFiles64") for d in directories)
    yield "the module goes to Program Files\\TarnDriver", (
        module.get("FileName") == "TarnDriver.DLL"
        and directories.get(module_component.get("Directory_"), {}).get("Directory_Parent") == "ProgramFilesFolder")
    yield "no x64 module and no win64 type library", (
        not any(f.endswith("_x64") for f in files) and not any(k.endswith("\\win64") for k, _ in registry))
    for clsid, threading in classes_of(build).items():
        key = f"CLSID\\{clsid}\\InprocServer32"
        yield f"class {clsid} is the installed module, {threading}", (
            registry.get((key, "")) == "[#TarnDriver_x86]" and registry.get((key, "ThreadingModel")) == threading)
    yield "the win32 type library is the installed module", any(
        k.endswith("\\win32") and v == "[#TarnDriver_x86]" for (k, _), v in registry.items())
    with tempfile.TemporaryDirectory() as unpacked:
        subprocess.run(["msiextract", "-C", unpacked, package], check=True, capture_output=True)
        for name in ("TarnDriver.DLL", "TarnKit.dll", "TarnPanel.exe"):
            carried = os.path.join(unpacked, "Program Files", "TarnDriver", name)
            yield f"it carries this x86 build's {name}", (
                os.path.isfile(carried) and filecmp.cmp(carried, os.path.join(build, "bin", name), shallow=False))


def main():
    package, build, version = sys.argv[1:4]
    failed = 0
    results = list(checks(package, build, version))
    for what, holds in results:
        if not holds:
            print(f"FAIL x86 package: {what}")
            failed += 1
    print(f"x86 package tables: {len(results) - failed} of {len(results)} checks hold")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
