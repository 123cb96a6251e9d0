"""The registry rows that registering a module writes, computed on the build
machine so that the installer can write them as its own rows:

- the classes of each module, from the registrar scripts it carries
  (build/<arch>/src/generated/*.rgs, build/<arch>/kit/*.rgs);
- the type library of each module, read from its .tlb.

A row is (view, key, name, value) below HKEY_CLASSES_ROOT.  name None is the
key's default value; name "*" with value None creates the key at install and
removes it with everything beneath at uninstall (the registrar's ForceRemove).
"""

import re
from dataclasses import dataclass
from typing import Optional

import type_library

# Keys that 64-bit Windows keeps apart for 32-bit and 64-bit programs; every
# other key below HKEY_CLASSES_ROOT (ProgIDs, TypeLib) is one key for both.
REDIRECTED = ("CLSID", "Interface")
# The standard marshalers of Automation interfaces.
PS_OLE_AUTOMATION = "{00020424-0000-0000-C000-000000000046}"
PS_DISPATCH = "{00020420-0000-0000-C000-000000000046}"


@dataclass(frozen=True)
class Row:
    key: str
    name: Optional[str]
    value: Optional[str]

    @property
    def per_architecture(self):
        """Each build writes its own: keys kept apart per registry view, and the
        type library's path for its platform (win32 or win64)."""
        return self.key.split("\\", 1)[0] in REDIRECTED or self.key.endswith(("\\win32", "\\win64"))


def _tokens(text):
    """Quoted texts, braced GUIDs and bare words as ("text", ...); braces and "=" as themselves."""
    pattern = r"'((?:[^']|'')*)'|(\{[0-9A-Fa-f-]{36}\})|([{}=])|([^\s{}=']+)"
    for quoted, guid, punctuation, word in re.findall(pattern, text):
        if punctuation:
            yield (punctuation, punctuation)
        elif guid or word:
            yield ("text", guid or word)
        else:
            yield ("text", quoted.replace("''", "'"))


def registrar_script_rows(text, module_path, library_id):
    """Rows of a registrar script run for registration, %MODULE% and %LIBID% replaced."""
    tokens, position, rows = list(_tokens(text)), 0, []

    def take(kind=None):
        nonlocal position
        token = tokens[position]
        if kind and token[0] != kind:
            raise ValueError(f"registrar script: expected {kind}, found {token[1]!r}")
        position += 1
        return token[1]

    def peek():
        return tokens[position][0] if position < len(tokens) else None

    def value():
        take("=")
        kind = take("text")
        if kind != "s":
            raise ValueError(f"registrar script: only string values are supported, not '{kind}'")
        return take("text").replace("%MODULE%", module_path).replace("%LIBID%", library_id)

    def body(path):
        take("{")
        while peek() != "}":
            word = take("text")
            if word == "val":
                name = take("text")
                rows.append(Row(path, name, value()))
                continue
            if word == "Delete":
                raise ValueError("registrar script: 'Delete' has no installer equivalent here")
            no_remove = word == "NoRemove"
            force_remove = word == "ForceRemove"
            name = take("text") if no_remove or force_remove else word
            key = f"{path}\\{name}" if path else name
            has_value = peek() == "="
            if has_value:
                rows.append(Row(key, None, value()))
            has_body = peek() == "{"
            if force_remove or (not no_remove and not has_value and not has_body):
                rows.append(Row(key, "*", None))
            if has_body:
                body(key)
        take("}")

    while position < len(tokens):
        root = take("text")
        if root not in ("HKCR", "HKEY_CLASSES_ROOT"):
            raise ValueError(f"registrar script: only HKCR is supported, not {root}")
        body("")
    return rows


def marshaler_of(interface):
    """The standard marshaler of an Automation interface: the type-library
    marshaler for dual and oleautomation interfaces, IDispatch's for dispinterfaces."""
    dual = interface.flags & type_library.TYPEFLAG_FDUAL
    return PS_OLE_AUTOMATION if interface.kind == type_library.TKIND_INTERFACE or dual else PS_DISPATCH


def type_library_rows(library, module_path, help_folder):
    """What registering the type library that a module carries writes."""
    version = f"{library.major:x}.{library.minor:x}"
    key = f"TypeLib\\{library.guid}\\{version}"
    rows = [Row(key, None, library.title),
            Row(f"{key}\\{library.lcid:x}\\{library.syskind}", None, module_path),
            Row(f"{key}\\FLAGS", None, str(library.flags)),
            Row(f"{key}\\HELPDIR", None, help_folder)]
    for interface in library.automation_interfaces():
        marshaler = marshaler_of(interface)
        interface_key = f"Interface\\{interface.guid}"
        rows += [Row(interface_key, None, interface.name),
                 Row(interface_key + "\\ProxyStubClsid", None, marshaler),
                 Row(interface_key + "\\ProxyStubClsid32", None, marshaler),
                 Row(interface_key + "\\TypeLib", None, library.guid),
                 Row(interface_key + "\\TypeLib", "Version", version)]
    return rows
