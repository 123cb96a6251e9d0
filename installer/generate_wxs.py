#!/usr/bin/env python3
"""Writes the WiX source of a TarnDriver installer (built by wixl -a PLATFORM).

The x64 package is for 64-bit Windows and carries both builds: the x64 modules
in Program Files with their registration in the 64-bit registry view, the x86
modules in Program Files (x86) with theirs in the 32-bit view, and the SDK
(the x64 build's sdk/ folder, the samples and the documentation) beside the
x64 modules.  The x86 package is for 32-bit Windows: the x86 build
and the SDK in Program Files, registered in the system's only (native) view;
it refuses 64-bit Windows, where the x64 package serves both kinds of client.
Registration is written as the package's own registry rows (see
registry_rows.py), so the uninstaller removes exactly what was written.

usage: generate_wxs.py --version V --source ROOT --x86 BUILD [--x64 BUILD] --output FILE.wxs
       (without --x64: the x86 package)
"""

import argparse
import hashlib
import os
import re
import sys
import uuid
import xml.etree.ElementTree as ET

import registry_rows
import sdk_files
import type_library

PRODUCT = "TarnDriver"
MANUFACTURER = "TarnDriver developers"
# Fixed for good: every version of the package carries it, so a newer one replaces an older one.
# The x86 package is a product line of its own: neither replaces the other.
UPGRADE_CODES = {"x64": "{EA6F5AEF-9E79-4930-AFD4-86DD8CD0E3B8}", "x86": "{3F0C7E52-8B1D-4C7A-9E36-5D2A41B0C9E7}"}
# Component GUIDs are derived from their names in this namespace, so they stay
# the same from one build and one version to the next; product codes from the version.
COMPONENT_NAMESPACE = uuid.UUID("0233F470-EC4A-4601-8ACE-E9F6D0A4B93D")
# Stand-ins in computed rows for what only the installer knows: the installed
# module's path and its folder.
MODULE_PATH, MODULE_FOLDER = "\x01module\x01", "\x01folder\x01"
ARCH_FOLDERS = {"x64": ("ProgramFiles64Folder", "INSTALLDIR"), "x86": ("ProgramFilesFolder", "INSTALLDIR32")}


def component_guid(name):
    return "{" + str(uuid.uuid5(COMPONENT_NAMESPACE, name)).upper() + "}"


def identifier(prefix, text):
    """An MSI identifier for a path: letters, digits, '_' and '.', at most 72 characters."""
    cleaned = re.sub(r"[^A-Za-z0-9_.]", "_", text)
    name = f"{prefix}_{cleaned}"
    if len(name) > 72:
        name = f"{prefix}_{hashlib.sha1(text.encode()).hexdigest()[:16]}_{cleaned[-40:]}"
    return name


class Package:
    def __init__(self, version, base_folder, platform):
        self.base_folder = base_folder  # wixl finds sources relative to its working folder only
        self.root = ET.Element("Wix", xmlns="http://schemas.microsoft.com/wix/2006/wi")
        # One product code per version: a newer package replaces this one (MajorUpgrade
        # below); the same version installed again finds itself installed.
        line = f"product {version}" + ("" if platform == "x64" else f" {platform}")
        product_code = "{" + str(uuid.uuid5(COMPONENT_NAMESPACE, line)).upper() + "}"
        self.product = ET.SubElement(self.root, "Product", Id=product_code, Name=PRODUCT, Language="1033",
                                     Version=version, Manufacturer=MANUFACTURER, UpgradeCode=UPGRADE_CODES[platform])
        clients = "32-bit and 64-bit clients" if platform == "x64" else "32-bit Windows"
        ET.SubElement(self.product, "Package", InstallerVersion="200", Compressed="yes",
                      InstallScope="perMachine", Description=f"{PRODUCT} {version}",
                      Comments="Automation server for serial ports, digital I/O lines and USB devices, "
                               f"for {clients}, with its SDK")
        if platform == "x86":
            ET.SubElement(self.product, "Condition",
                          Message=f"This {PRODUCT} package is for 32-bit Windows; "
                                  "on 64-bit Windows install the x64 package, which serves 32-bit clients too."
                          ).text = "Installed OR NOT VersionNT64"
        # A newer package removes the older one first; an older one refuses to install.
        ET.SubElement(self.product, "MajorUpgrade",
                      DowngradeErrorMessage=f"A newer version of {PRODUCT} is already installed.")
        ET.SubElement(self.product, "Media", Id="1", Cabinet="tarn.cab", EmbedCab="yes")
        ET.SubElement(self.product, "Property", Id="ARPNOMODIFY", Value="1")
        target = ET.SubElement(self.product, "Directory", Id="TARGETDIR", Name="SourceDir")
        self.folders = {}
        self.file_ids = set()
        for arch, (system_folder, install_id) in ARCH_FOLDERS.items():
            if platform == "x86" and arch == "x64":
                continue
            parent = ET.SubElement(target, "Directory", Id=system_folder)
            self.folders[install_id] = ET.SubElement(parent, "Directory", Id=install_id, Name=PRODUCT)
        self.feature = ET.SubElement(self.product, "Feature", Id="Complete", Title=PRODUCT, Level="1",
                                     Absent="disallow")

    def folder(self, parent_id, relative):
        """The Directory element for a path below an installation folder, created on first use."""
        current_id, element, path = parent_id, self.folders[parent_id], parent_id
        for part in [p for p in relative.split("/") if p]:
            path = f"{path}/{part}"
            child_id = identifier("dir", path)
            if child_id not in self.folders:
                self.folders[child_id] = ET.SubElement(element, "Directory", Id=child_id, Name=part)
            current_id, element = child_id, self.folders[child_id]
        return current_id

    def component(self, folder_id, name, win64):
        element = ET.SubElement(self.folders[folder_id], "Component", Id=name, Guid=component_guid(name),
                                Win64="yes" if win64 else "no")
        ET.SubElement(self.feature, "ComponentRef", Id=name)
        return element

    def file(self, component, file_id, source, name=None):
        if file_id in self.file_ids:
            raise SystemExit(f"two files would both be {file_id}: rename one ({source})")
        self.file_ids.add(file_id)
        attributes = {"Id": file_id, "Source": os.path.relpath(source, self.base_folder),
                      "Name": name or os.path.basename(source)}
        if not component.findall("File"):
            attributes["KeyPath"] = "yes"
        return ET.SubElement(component, "File", **attributes)

    @staticmethod
    def registry(component, rows, references):
        """Registry rows; values are taken literally except the placeholders in
        references, which become the installer's file and folder references."""
        seen = set()
        for row in rows:
            if row in seen:
                continue
            seen.add(row)
            value = re.sub(r"([\[\]])", r"[\\\1]", row.value or "")
            for placeholder, reference in references.items():
                value = value.replace(placeholder, reference)
            attributes = {"Root": "HKCR", "Key": row.key, "Type": "string", "Value": value}
            if row.name is not None:
                attributes["Name"] = row.name
            ET.SubElement(component, "RegistryValue", **attributes)

    def write(self, path):
        ET.indent(self.root)
        ET.ElementTree(self.root).write(path, encoding="utf-8", xml_declaration=True)


def module_rows(module, arch, build, file_ref, folder_ref):
    """The registration of one module of one architecture."""
    generated = os.path.join(build, "src", "generated") if module == "TarnDriver" else os.path.join(build, "kit")
    scripts = sorted(f for f in os.listdir(generated) if f.endswith(".rgs"))
    if not scripts:
        raise SystemExit(f"no registrar scripts in {generated}: build {arch} first")
    library = type_library.read(os.path.join(generated, f"{module}.tlb"))
    rows = []
    for script in scripts:
        with open(os.path.join(generated, script), encoding="utf-8") as text:
            rows += registry_rows.registrar_script_rows(text.read(), file_ref, library.guid)
    expected_syskind = "win64" if arch == "x64" else "win32"
    if library.syskind != expected_syskind:
        raise SystemExit(f"{arch} {module} carries a {library.syskind} type library")
    return rows + registry_rows.type_library_rows(library, file_ref, folder_ref)


def platform_of(builds):
    """The package's platform: x64 when it carries the x64 build."""
    return "x64" if "x64" in builds else "x86"


def add_modules(package, builds):
    shared_by_arch = {}
    for arch, build in builds.items():
        install_id = ARCH_FOLDERS[arch][1]
        for module, file_name in (("TarnDriver", "TarnDriver.DLL"), ("TarnKit", "TarnKit.dll")):
            name = f"{module}_{arch}"
            component = package.component(install_id, name, win64=arch == "x64")
            package.file(component, name, os.path.join(build, "bin", file_name), file_name)
            rows = module_rows(module, arch, build, MODULE_PATH, MODULE_FOLDER)
            own = [r for r in rows if r.per_architecture]
            shared = [r for r in rows if not r.per_architecture]
            shared_by_arch.setdefault(module, {})[arch] = shared
            # Keys both views share are written once, with the package's own
            # platform's module (x64 in the x64 package); the x86 build must
            # not want anything different there but its folder.
            package.registry(component, own + (shared if arch == platform_of(builds) else []),
                             {MODULE_PATH: f"[#{name}]", MODULE_FOLDER: f"[{install_id}]"})
    for module, by_arch in shared_by_arch.items():
        if len(by_arch) < 2:
            continue

        def comparable(rows):
            return {(r.key, r.name, r.value) for r in rows if not r.key.endswith("\\HELPDIR")}
        if comparable(by_arch["x86"]) != comparable(by_arch["x64"]):
            raise SystemExit(f"the x86 and x64 {module} disagree on their shared registry keys")


# Programs beside each architecture's modules: files alone, with no registration.
PROGRAMS = ("TarnPanel.exe",)


def add_programs(package, builds):
    for arch, build in builds.items():
        for file_name in PROGRAMS:
            name = f"{os.path.splitext(file_name)[0]}_{arch}"
            component = package.component(ARCH_FOLDERS[arch][1], name, win64=arch == "x64")
            package.file(component, name, os.path.join(build, "bin", file_name), file_name)


def add_sdk(package, builds, source_root):
    install_id = "INSTALLDIR" if "x64" in builds else "INSTALLDIR32"
    for relative, paths in sdk_files.sdk_files(builds["x86"], source_root).items():
        folder_id = package.folder(install_id, "SDK/" + relative)
        component = package.component(folder_id, identifier("sdk", relative), win64="x64" in builds)
        for path in paths:
            package.file(component, identifier("f", f"{relative}/{os.path.basename(path)}"), path)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--version", required=True)
    parser.add_argument("--source", required=True)
    parser.add_argument("--x86", required=True)
    parser.add_argument("--x64")
    parser.add_argument("--output", required=True)
    args = parser.parse_args()
    if not re.fullmatch(r"\d+\.\d+\.\d+(\.\d+)?", args.version):
        raise SystemExit(f"version {args.version} is not of the form major.minor.build[.revision]")
    builds = {"x64": args.x64, "x86": args.x86} if args.x64 else {"x86": args.x86}
    package = Package(args.version, os.path.dirname(os.path.abspath(args.output)), platform_of(builds))
    add_modules(package, builds)
    add_programs(package, builds)
    add_sdk(package, builds, args.source)
    package.write(args.output)


if __name__ == "__main__":
    sys.exit(main())
