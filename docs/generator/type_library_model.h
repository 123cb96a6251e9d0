#pragma once
// What the reference says about the library, read from its type library: the
// classes with their interfaces and events, the members in vtable order with
// their parameters and defaults, and the enumerations.
#include <windows.h>
#include <oaidl.h>

#include <string>
#include <vector>

namespace tarn::docs {

struct Parameter {
    std::wstring name;
    std::wstring type;       // as a C++ client declares it: long, BSTR*, SAFEARRAY(BSTR)*, ETNDevice
    bool in = false, out = false, retval = false, optional = false;
    std::wstring defaultValue;  // as source text ("0", "\"\""); empty when there is none
};

enum class MemberKind { Method, PropertyGet, PropertyPut, Event };

struct Member {
    std::wstring name;
    MemberKind kind = MemberKind::Method;
    MEMBERID dispid = 0;
    int slot = 0;  // 1 = the first slot after IDispatch's seven; 0 for events
    std::wstring help;
    std::vector<Parameter> parameters;
};

struct Interface {
    std::wstring name, help, iid;
    std::vector<Member> members;  // vtable order (events: declaration order)
};

struct Class {
    std::wstring name, help, clsid;
    Interface defaultInterface;
    bool hasEvents = false;
    Interface events;
};

struct Enumeration {
    std::wstring name, help;
    std::vector<std::pair<std::wstring, long>> values;
};

struct Library {
    std::wstring name, help, libid;
    WORD major = 0, minor = 0;
    std::vector<Class> classes;  // type library order
    std::vector<Enumeration> enumerations;
};

// Reads the library; on failure returns the HRESULT and leaves `library` partly filled.
HRESULT ReadLibrary(ITypeLib* typeLibrary, Library& library);

}  // namespace tarn::docs
