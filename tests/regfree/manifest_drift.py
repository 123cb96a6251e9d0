#!/usr/bin/env python3
"""The assembly manifest against what the module registers: its registrar
scripts (classes, threading models, ProgIDs) and its type library (LIBID,
version, Automation interfaces and their marshalers).  A class, an interface,
a threading model or a ProgID the manifest gets wrong fails registration-free
activation on a user's machine only, so it fails here first.

The checks read the registrar scripts on their own, not through the code that
wrote the manifest, and prove themselves on a table of damaged manifests.

usage: manifest_drift.py MANIFEST GENERATED_FOLDER ARCH VERSION
"""

import copy
import os
import re
import sys
import xml.etree.ElementTree as ET

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "installer"))
import type_library  # noqa: E402  (reads the .tlb; shared with the installer)

NS = {"m": "urn:schemas-microsoft-com:asm.v1"}
OLE_AUTOMATION, DISPATCH = "{00020424-0000-0000-C000-000000000046}", "{00020420-0000-0000-C000-000000000046}"
ARCHITECTURES = {"x86": "x86", "x64": "amd64"}


def registered_classes(folder):
    """{CLSID: (threading model, ProgID, version-independent ProgID)} from the .rgs files."""
    classes = {}
    for name in sorted(os.listdir(folder)):
        if not name.endswith(".rgs"):
            continue
        text = open(os.path.join(folder, name), encoding="utf-8").read()
        clsid = re.search(r"ForceRemove (\{[0-9A-Fa-f-]{36}\})", text).group(1).upper()
        field = lambda pattern: re.search(pattern, text).group(1)  # noqa: E731
        classes[clsid] = (field(r"ThreadingModel = s '([^']*)'"), field(r"\bProgID = s '([^']*)'"),
                          field(r"VersionIndependentProgID = s '([^']*)'"))
    return classes


def problems(manifest, folder, arch, version):
    """What the manifest gets wrong, as sentences; none when it matches."""
    found = []
    library = type_library.read(os.path.join(folder, "TarnDriver.tlb"))
    identity = manifest.find("m:assemblyIdentity", NS)
    expected_identity = {"name": "TarnDriver", "type": "win32", "version": version,
                         "processorArchitecture": ARCHITECTURES[arch]}
    for attribute, value in expected_identity.items():
        if identity is None or identity.get(attribute) != value:
            found.append(f"identity {attribute} is {identity.get(attribute) if identity is not None else None}, "
                         f"not {value}")
    module = manifest.find("m:file", NS)
    if module is None or module.get("name") != "TarnDriver.DLL":
        return found + ["no <file name=\"TarnDriver.DLL\">"]

    listed = {}
    for entry in module.findall("m:comClass", NS):
        progids = [p.text for p in entry.findall("m:progid", NS)]
        listed[entry.get("clsid", "").upper()] = (entry.get("threadingModel"), entry.get("progid"),
                                                  progids[0] if progids else None)
        if entry.get("tlbid") != library.guid:
            found.append(f"class {entry.get('clsid')} names type library {entry.get('tlbid')}")
    registered = registered_classes(folder)
    for clsid in sorted(set(registered) | set(listed)):
        if listed.get(clsid) != registered.get(clsid):
            found.append(f"class {clsid}: manifest {listed.get(clsid)}, registrar script {registered.get(clsid)}")
    coclasses = {t.guid for t in library.types if t.kind == type_library.TKIND_COCLASS}
    found += [f"class {clsid} is no coclass of the type library" for clsid in sorted(set(listed) - coclasses)]

    libraries = module.findall("m:typelib", NS)
    wanted = (library.guid, f"{library.major:x}.{library.minor:x}")
    if [(t.get("tlbid"), t.get("version")) for t in libraries] != [wanted]:
        found.append(f"type library entries {[(t.get('tlbid'), t.get('version')) for t in libraries]}, not {wanted}")

    stubs = {s.get("iid", "").upper(): (s.get("proxyStubClsid32"), s.get("tlbid"))
             for s in manifest.findall("m:comInterfaceExternalProxyStub", NS)}
    interfaces = {}
    for t in library.types:
        if t.kind == type_library.TKIND_DISPATCH:
            interfaces[t.guid] = (OLE_AUTOMATION if t.flags & type_library.TYPEFLAG_FDUAL else DISPATCH, library.guid)
        elif t.kind == type_library.TKIND_INTERFACE and t.flags & type_library.TYPEFLAG_FOLEAUTOMATION:
            interfaces[t.guid] = (OLE_AUTOMATION, library.guid)
    for iid in sorted(set(stubs) | set(interfaces)):
        if stubs.get(iid) != interfaces.get(iid):
            found.append(f"interface {iid}: manifest {stubs.get(iid)}, type library {interfaces.get(iid)}")
    return found


# Damage a manifest the way drift would, each must be caught: (what, change).
def first(tag):
    return lambda root: root.find(f".//m:{tag}", NS)


def drop(tag):
    def change(root):
        victim = first(tag)(root)
        for parent in root.iter():
            if victim in list(parent):
                parent.remove(victim)
    return change


def set_attribute(tag, name, value):
    return lambda root: first(tag)(root).set(name, value)


def set_text(tag, value):
    def change(root):
        first(tag)(root).text = value
    return change


DAMAGE = [
    ("a class missing", drop("comClass")),
    ("a threading model changed", set_attribute("comClass", "threadingModel", "Apartment-or-not")),
    ("a versioned ProgID changed", set_attribute("comClass", "progid", "TarnDriver.Other.1")),
    ("a version-independent ProgID changed", set_text("progid", "TarnDriver.Other")),
    ("a class naming another type library", set_attribute("comClass", "tlbid", "{00000000-0000-0000-0000-000000000001}")),
    ("an interface missing", drop("comInterfaceExternalProxyStub")),
    ("an interface with the wrong marshaler", set_attribute("comInterfaceExternalProxyStub", "proxyStubClsid32",
                                                            "{00000000-0000-0000-0000-000000000002}")),
    ("the type library entry missing", drop("typelib")),
    ("another type library version", set_attribute("typelib", "version", "9.9")),
    ("another architecture", set_attribute("assemblyIdentity", "processorArchitecture", "ia64")),
    ("another product version", set_attribute("assemblyIdentity", "version", "0.0.0.1")),
]


def main():
    manifest_path, folder, arch, version = sys.argv[1:5]
    version = ".".join((version.split(".") + ["0"] * 4)[:4])
    manifest = ET.parse(manifest_path).getroot()
    failures = 0
    for problem in problems(manifest, folder, arch, version):
        print(f"FAIL {manifest_path}: {problem}")
        failures += 1
    for what, change in DAMAGE:
        damaged = copy.deepcopy(manifest)
        change(damaged)
        if not problems(damaged, folder, arch, version):
            print(f"FAIL the check misses {what}")
            failures += 1
    print(f"{1 + len(DAMAGE) - failures} passed, {failures} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
