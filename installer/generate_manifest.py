#!/usr/bin/env python3
"""Writes the manifests of registration-free (side-by-side) activation.

assembly:     the assembly manifest that sits beside TarnDriver.DLL and tells
              the activation context what registration would otherwise write:
              one comClass per class (CLSID, threading model, ProgIDs) from the
              module's registrar scripts, the type library and one proxy-stub
              entry per Automation interface from the compiled type library.
application:  an application manifest that depends on that assembly, for a
              client built against it (or as a sample for users' own).

usage: generate_manifest.py assembly --version V --arch x86|x64 --scripts DIR --typelib FILE.tlb --output FILE
       generate_manifest.py application --version V --arch x86|x64|* --name NAME --output FILE
"""

import argparse
import os
import re
import sys
import xml.etree.ElementTree as ET

import registry_rows
import type_library

ASSEMBLY_NAME = "TarnDriver"
MODULE_FILE = "TarnDriver.DLL"
NAMESPACE = "urn:schemas-microsoft-com:asm.v1"
# Windows' names of the architectures in assembly identities.
PROCESSOR_ARCHITECTURES = {"x86": "x86", "x64": "amd64", "*": "*"}
# The type library's flags as a manifest spells them (LIBFLAGS).
LIBRARY_FLAG_NAMES = ((0x1, "RESTRICTED"), (0x2, "CONTROL"), (0x4, "HIDDEN"), (0x8, "HASDISKIMAGE"))


def identity(parent, version, arch):
    return ET.SubElement(parent, "assemblyIdentity", type="win32", name=ASSEMBLY_NAME, version=version,
                         processorArchitecture=PROCESSOR_ARCHITECTURES[arch])


def classes_of(scripts_folder, library_id):
    """(clsid, description, threading model, ProgID, version-independent ProgID)
    of each class the registrar scripts in a folder register, by CLSID."""
    names = sorted(n for n in os.listdir(scripts_folder) if n.endswith(".rgs"))
    if not names:
        raise SystemExit(f"no registrar scripts in {scripts_folder}")
    classes = []
    for name in names:
        with open(os.path.join(scripts_folder, name), encoding="utf-8") as text:
            rows = registry_rows.registrar_script_rows(text.read(), MODULE_FILE, library_id)
        values = {(row.key, row.name): row.value for row in rows}
        class_keys = {row.key.split("\\")[1] for row in rows if row.key.startswith("CLSID\\{")}
        for clsid in sorted(class_keys):
            key = f"CLSID\\{clsid}"
            classes.append((clsid, values.get((key, None)), values[(key + "\\InprocServer32", "ThreadingModel")],
                            values[(key + "\\ProgID", None)], values[(key + "\\VersionIndependentProgID", None)]))
    return classes


def assembly_manifest(version, arch, scripts_folder, library_path):
    library = type_library.read(library_path)
    expected = "win64" if arch == "x64" else "win32"
    if library.syskind != expected:
        raise SystemExit(f"{library_path} is a {library.syskind} type library, not the {arch} module's")
    root = ET.Element("assembly", xmlns=NAMESPACE, manifestVersion="1.0")
    identity(root, version, arch)
    module = ET.SubElement(root, "file", name=MODULE_FILE)
    for clsid, description, threading, progid, independent in classes_of(scripts_folder, library.guid):
        library.coclass_by_guid(clsid)  # a class the type library does not describe is an error
        attributes = {"clsid": clsid, "threadingModel": threading, "tlbid": library.guid, "progid": progid}
        if description:
            attributes["description"] = description
        ET.SubElement(module, "comClass", **attributes).append(element("progid", independent))
    flags = ",".join(name for bit, name in LIBRARY_FLAG_NAMES if library.flags & bit)
    ET.SubElement(module, "typelib", tlbid=library.guid, version=f"{library.major:x}.{library.minor:x}",
                  helpdir="", flags=flags)
    # Cross-apartment calls and events need the standard Automation marshalers,
    # which find each interface through the type library.
    for interface in library.automation_interfaces():
        ET.SubElement(root, "comInterfaceExternalProxyStub", name=interface.name, iid=interface.guid,
                      proxyStubClsid32=registry_rows.marshaler_of(interface), tlbid=library.guid)
    return root


def application_manifest(version, arch, name):
    root = ET.Element("assembly", xmlns=NAMESPACE, manifestVersion="1.0")
    ET.SubElement(root, "assemblyIdentity", type="win32", name=name, version="1.0.0.0",
                  processorArchitecture=PROCESSOR_ARCHITECTURES[arch])
    dependent = ET.SubElement(ET.SubElement(root, "dependency"), "dependentAssembly")
    identity(dependent, version, arch)
    return root


def assembly_version(version):
    """The product version as an assembly version, which has four parts."""
    four = ".".join((version.split(".") + ["0"] * 4)[:4])
    if not re.fullmatch(r"\d+\.\d+\.\d+\.\d+", four):
        raise SystemExit(f"version {version} is not of the form major.minor.build[.revision]")
    return four


def element(tag, text):
    made = ET.Element(tag)
    made.text = text
    return made


def write(root, path):
    ET.indent(root)
    text = ET.tostring(root, encoding="unicode")
    os.makedirs(os.path.dirname(os.path.abspath(path)), exist_ok=True)
    with open(path, "w", encoding="utf-8", newline="\r\n") as out:
        out.write('<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n' + text + "\n")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("kind", choices=("assembly", "application"))
    parser.add_argument("--version", required=True)
    parser.add_argument("--arch", required=True, choices=tuple(PROCESSOR_ARCHITECTURES))
    parser.add_argument("--scripts")
    parser.add_argument("--typelib")
    parser.add_argument("--name", default="TarnDriver.Client")
    parser.add_argument("--output", required=True)
    args = parser.parse_args()
    version = assembly_version(args.version)
    if args.kind == "assembly":
        if not (args.scripts and args.typelib) or args.arch == "*":
            raise SystemExit("an assembly manifest needs --scripts, --typelib and one architecture")
        root = assembly_manifest(version, args.arch, args.scripts, args.typelib)
    else:
        root = application_manifest(version, args.arch, args.name)
    write(root, args.output)


if __name__ == "__main__":
    sys.exit(main())
