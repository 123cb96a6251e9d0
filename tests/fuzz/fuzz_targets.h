#pragma once
// What the fuzzer calls: objects of every class made straight from the
// module's class objects (so every call reaches the object itself, whatever
// its threading model), in every state worth calling — never opened, opened
// and closed, and open on the stand-in ports and devices — and each object's
// members as its type information lists them.
#include <windows.h>
#include <oaidl.h>

#include <string>
#include <vector>

#include "TarnDriver.h"
#include "platform/com_ptr.h"

namespace tarn::fuzz {

struct Member {
    DISPID id;
    WORD kind;        // INVOKE_FUNC, INVOKE_PROPERTYGET, ...
    UINT parameters;  // as Invoke sees them (the retval parameter is the result)
    std::wstring name;
};

struct Target {
    std::string label;  // class and state, for reports
    IID iid;            // its dual interface
    ComPtr<IDispatch> object;
    std::vector<Member> members;
};

class Targets {
public:
    // Loads the module beside the program; false with `why` when it can't.
    bool Create(std::string& why);
    std::vector<Target>& all() { return targets_; }
    std::vector<IDispatch*> Objects() const;
    // Aborts main-endpoint reads waiting on the stand-in devices for bytes that
    // will not come: such a read legitimately waits for as long as that takes.
    void ReleaseWaitingReads();

private:
    ComPtr<IDispatch> New(REFCLSID clsid);
    bool Add(const char* label, REFCLSID clsid, REFIID iid, const wchar_t* opener, std::vector<VARIANT> arguments,
             std::string& why);

    HMODULE module_ = nullptr;
    std::vector<Target> targets_;
    ComPtr<IUsbDriver> rescuers_[2];
};

}  // namespace tarn::fuzz
