"""Reads what registering a type library writes from a compiled .tlb file
(the MSFT format that widl writes): the library's identity and its types."""

import struct
import uuid
from dataclasses import dataclass, field

TKIND_INTERFACE = 3
TKIND_DISPATCH = 4
TKIND_COCLASS = 5
TYPEFLAG_FDUAL = 0x40
TYPEFLAG_FOLEAUTOMATION = 0x100
LIBFLAG_FHASDISKIMAGE = 0x8
SYSKINDS = {1: "win32", 3: "win64"}

_HEADER = struct.Struct("<21i")       # MSFT header, up to the count of imported infos
_SEGMENT = struct.Struct("<4i")       # offset, length and two reserved fields
_TYPEINFO = struct.Struct("<19i2h5i")  # one entry of the type-info table
_SEGMENT_COUNT = 15
_TYPEINFO_SEGMENT, _GUID_SEGMENT, _NAME_SEGMENT, _STRING_SEGMENT = 0, 5, 7, 8


@dataclass
class TypeInfo:
    kind: int
    flags: int      # as loading reports them, and registration writes them
    guid: str
    name: str


@dataclass
class TypeLibrary:
    guid: str
    name: str
    helpstring: str
    major: int
    minor: int
    lcid: int
    flags: int      # as loading reports them, and registration writes them
    syskind: str
    types: list = field(default_factory=list)

    @property
    def title(self):
        """The default value of the library's version key: its help string, else its name."""
        return self.helpstring or self.name

    def automation_interfaces(self):
        """The interfaces registration lists under Interface: dispatch (and dual)
        interfaces, and interfaces marked oleautomation."""
        return [t for t in self.types
                if t.kind == TKIND_DISPATCH
                or (t.kind == TKIND_INTERFACE and t.flags & TYPEFLAG_FOLEAUTOMATION)]

    def coclass(self, name):
        for t in self.types:
            if t.kind == TKIND_COCLASS and t.name == name:
                return t
        raise KeyError(f"no coclass {name} in type library {self.name}")

    def coclass_by_guid(self, guid):
        for t in self.types:
            if t.kind == TKIND_COCLASS and t.guid.upper() == guid.upper():
                return t
        raise KeyError(f"no coclass {guid} in type library {self.name}")


def _guid_text(raw):
    return "{" + str(uuid.UUID(bytes_le=raw)).upper() + "}"


def read(path):
    data = open(path, "rb").read()
    header = _HEADER.unpack_from(data, 0)
    # The first locale is the one the compiler ran with; the library's own (its
    # lcid attribute, 0 when none) is the second, which loading reports.
    (magic, _version, lib_guid, _compiler_lcid, lcid, varflags, version, flags, type_count,
     helpstring, _hsc, _hc, _names, _chars, lib_name, *_rest) = header
    if magic != 0x5446534D:
        raise ValueError(f"{path} is not an MSFT type library")
    offset = _HEADER.size + (4 if varflags & 0x100 else 0) + 4 * type_count
    segments = [_SEGMENT.unpack_from(data, offset + i * _SEGMENT.size) for i in range(_SEGMENT_COUNT)]

    def guid_at(position):
        start = segments[_GUID_SEGMENT][0] + position
        return _guid_text(data[start:start + 16])

    def name_at(position):
        start = segments[_NAME_SEGMENT][0] + position
        length = struct.unpack_from("<i", data, start + 8)[0] & 0xFF
        return data[start + 12:start + 12 + length].decode("latin-1")

    def string_at(position):
        if position < 0:
            return ""
        start = segments[_STRING_SEGMENT][0] + position
        length = struct.unpack_from("<h", data, start)[0]
        return data[start + 2:start + 2 + length].decode("latin-1")

    library = TypeLibrary(guid=guid_at(lib_guid), name=name_at(lib_name), helpstring=string_at(helpstring),
                          major=version & 0xFFFF, minor=(version >> 16) & 0xFFFF, lcid=lcid,
                          # Loaded from a file, a library reports that it has a disk image.
                          flags=(flags & 0xFFFF) | LIBFLAG_FHASDISKIMAGE, syskind=SYSKINDS.get(varflags & 0xF, "?"))
    table = segments[_TYPEINFO_SEGMENT][0]
    for i in range(type_count):
        entry = _TYPEINFO.unpack_from(data, table + i * _TYPEINFO.size)
        kind, guid_position, type_flags, name_position = entry[0] & 0xF, entry[11], entry[12], entry[13]
        guid = guid_at(guid_position) if guid_position >= 0 else ""
        library.types.append(TypeInfo(kind, type_flags, guid, name_at(name_position)))
    return library


if __name__ == "__main__":
    import sys
    lib = read(sys.argv[1])
    print(lib.guid, lib.name, repr(lib.helpstring), f"{lib.major}.{lib.minor}", lib.lcid, lib.flags, lib.syskind)
    for t in lib.types:
        print(f"  kind {t.kind} flags {t.flags:#x} {t.guid} {t.name}")
