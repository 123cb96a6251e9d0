#!/usr/bin/env python3
"""Compares registry exports (regedit /E files) for the installer test.

  registry_export.py diff BEFORE.reg AFTER.reg
      every key and value that AFTER adds, removes or changes; exits 1 if any
      is left after the known volatile entries (printed as filtered, with why).
  registry_export.py ours EXPORT.reg TLB...
      the keys and values that belong to TarnDriver: below a key named by a
      GUID of the given type libraries or by a TarnDriver/TarnKit ProgID, or
      naming one; sorted, one per line.
  registry_export.py registration EXPORT.reg TLB...
      the same without Windows Installer's own bookkeeping (which names the
      product code, one per version): the COM registration, to compare states.
  registry_export.py products EXPORT.reg
      the version of each Add/Remove Programs entry named TarnDriver.
  registry_export.py value EXPORT.reg KEY [NAME]
      a string value (the default one without NAME), unescaped.
"""

import os
import re
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "installer"))
import type_library  # noqa: E402

# Entries that Wine rewrites on its own between two exports of the same
# prefix (devices and session state enumerated again at each start), and the
# containers Windows Installer keeps for all packages.  Each filtered line is
# printed with its reason.
VOLATILE = [
    (r"\\Hardware\\", "hardware description, volatile, made again by each wineserver"),
    (r"\\System\\CurrentControlSet\\Control\\(Video|Class|DeviceClasses)\\",
     "display and input devices, enumerated again at each start"),
    (r"\\Control\\ServiceCurrent ", "the service counter, one up at each service start"),
    (r"\\Windows NT\\CurrentVersion\\NetworkCards\\", "network adapters, enumerated again at each start"),
    (r"\\Software\\Wine\\Temporary System Parameters\\", "Wine's per-session copy of display settings"),
    (r"\\Perflib|\\DynDaylightTime|\\TimeZoneInformation", "counters and time zone, recomputed at start"),
    (r"^\+ [^:]*\\Installer(\\(Features|Products|UpgradeCodes|UserData(\\S-1-5-18(\\(Components|Products))?)?))?$",
     "Windows Installer's own empty folders, made by the first package installed"),
    (r"^- [^:]*(Wow6432Node\\Classes|Classes\\Wow6432Node|HKEY_CLASSES_ROOT\\Wow6432Node)\\CLSID$",
     "the 32-bit view's class folder, empty in a fresh prefix: Wine's uninstaller removes the keys "
     "that its removals leave empty, up to this one (on Windows it always holds classes)"),
]


def parse(path):
    """{key: {value name: data}}, key names as exported, data as text."""
    with open(path, "rb") as raw:
        data = raw.read()
    text = data.decode("utf-16") if data[:2] in (b"\xff\xfe", b"\xfe\xff") else data.decode("utf-8", "replace")
    text = re.sub(r"\\\r?\n\s*", "", text)  # continued hex lines
    keys, current = {}, None
    for line in text.splitlines():
        if line.startswith("[") and line.rstrip().endswith("]"):
            current = line.strip()[1:-1]
            keys.setdefault(current, {})
        elif current is not None and (line.startswith('"') or line.startswith("@=")):
            if line.startswith("@="):
                name, value = "@", line[2:]
            else:
                match = re.match(r'"((?:[^"\\]|\\.)*)"=(.*)', line)
                if not match:
                    continue
                name, value = match.groups()
            keys[current][name] = value
    return keys


def entries(keys):
    """Every key and value as a line: 'KEY' and 'KEY :: NAME = DATA', keys compared case-blind."""
    lines = {}
    for key, values in keys.items():
        lines[key.lower()] = key
        for name, value in values.items():
            lines[f"{key.lower()} :: {name.lower()} = {value}"] = f"{key} :: {name} = {value}"
    return lines


def volatile_reason(line):
    for pattern, reason in VOLATILE:
        if re.search(pattern, line, re.IGNORECASE):
            return reason
    return None


def diff(before_path, after_path):
    before, after = entries(parse(before_path)), entries(parse(after_path))
    changes = [f"+ {after[k]}" for k in sorted(after.keys() - before.keys())]
    changes += [f"- {before[k]}" for k in sorted(before.keys() - after.keys())]
    left = 0
    for change in changes:
        reason = volatile_reason(change)
        if reason:
            print(f"filtered ({reason}): {change}")
        else:
            print(change)
            left += 1
    return 1 if left else 0


INSTALLER_BOOKKEEPING = re.compile(r"\\Installer\\|\\CurrentVersion\\Uninstall\\", re.IGNORECASE)


def ours(export_path, libraries, registration_only=False):
    marks = ["tarndriver.", "tarnkit."]
    for path in libraries:
        library = type_library.read(path)
        marks += [library.guid.lower()] + [t.guid.lower() for t in library.types if t.guid]
    for line in sorted(entries(parse(export_path)).values()):
        if registration_only and INSTALLER_BOOKKEEPING.search(line.split(" :: ")[0]):
            continue
        if any(mark in line.lower() for mark in marks):
            print(line)
    return 0


def products(export_path):
    for key, values in parse(export_path).items():
        if re.search(r"\\CurrentVersion\\Uninstall\\", key, re.IGNORECASE) \
                and values.get("DisplayName") == '"TarnDriver"':
            print(values.get("DisplayVersion", "?").strip('"'))
    return 0


def value(export_path, key, name="@"):
    for exported, values in parse(export_path).items():
        if exported.lower() == key.lower() and name in values:
            data = values[name]
            if data.startswith('"') and data.endswith('"'):
                data = re.sub(r"\\(.)", r"\1", data[1:-1])
            print(data)
            return 0
    return 1


def main():
    if len(sys.argv) >= 4 and sys.argv[1] == "diff":
        return diff(sys.argv[2], sys.argv[3])
    if len(sys.argv) >= 4 and sys.argv[1] in ("ours", "registration"):
        return ours(sys.argv[2], sys.argv[3:], registration_only=sys.argv[1] == "registration")
    if len(sys.argv) == 3 and sys.argv[1] == "products":
        return products(sys.argv[2])
    if len(sys.argv) in (4, 5) and sys.argv[1] == "value":
        return value(*sys.argv[2:])
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main())
