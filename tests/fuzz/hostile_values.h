#pragma once
// Hostile arguments for IDispatch::Invoke, and the checks that the callee left
// them as the ownership rules require.  An Arena owns everything made for one
// call; after the call, Check() compares what it handed out with what came
// back (array descriptors, guard bytes around array data, locks), and the
// destructor frees it all, including whatever the callee handed back in
// by-reference slots.
#include <windows.h>
#include <oaidl.h>

#include <memory>
#include <string>
#include <vector>

#include "fuzz_random.h"

namespace tarn::fuzz {

class Arena {
public:
    // `objects` are live interface pointers the values may refer to (not owned).
    explicit Arena(std::vector<IDispatch*> objects) : objects_(std::move(objects)) {}
    ~Arena();
    Arena(const Arena&) = delete;
    Arena& operator=(const Arena&) = delete;

    // One argument: any type, by value or by reference, arrays of every shape.
    VARIANTARG Value(Rng& rng);

    // Problems found after the call, one line each; empty when all is well.
    std::vector<std::string> Check();

private:
    struct Array {
        SAFEARRAY* array;
        SAFEARRAY** slot;     // the by-reference slot it was handed in, or null
        SAFEARRAY before;     // the descriptor as handed out (first bound only beyond cDims 1)
        SAFEARRAYBOUND bounds[3];
        BYTE* buffer;         // guarded data we allocated ourselves, or null
        size_t dataBytes;
        bool pinned;          // locked, fixed, static, auto or embedded: must never be replaced
        bool released;        // the callee replaced it: no longer ours to free
    };
    struct Variable {         // a VT_BYREF | VT_VARIANT target: it owns what it holds
        std::unique_ptr<VARIANT> value;
        SAFEARRAY* locked;    // an array we locked inside it, or null
    };

    BSTR String(Rng& rng, bool owned);
    SAFEARRAY* NewArray(Rng& rng, VARTYPE element, bool forVariable, bool& pinned);
    void Fill(Rng& rng, SAFEARRAY* array, VARTYPE element);
    VARIANT Scalar(Rng& rng, VARTYPE type, bool owned);
    void* Slot(size_t bytes);
    void FreeArray(Array& entry);

    std::vector<IDispatch*> objects_;
    std::vector<BSTR> strings_;
    std::vector<Array> arrays_;
    std::vector<Variable> variables_;
    std::vector<std::unique_ptr<BYTE[]>> slots_;
    std::vector<std::pair<BSTR*, BSTR>> stringSlots_;
    std::vector<std::pair<IUnknown**, IUnknown*>> objectSlots_;
};

// Whether `value`, handed out by the callee, is a well-formed value a client
// can clear; `why` says what is wrong otherwise.
bool IsClearable(const VARIANT& value, std::string& why);

std::string DescribeType(VARTYPE vt);

}  // namespace tarn::fuzz
