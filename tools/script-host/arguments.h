#pragma once
// WScript.Arguments: the script's own arguments, indexed from 0, counted
// (Count, and length for JScript) and enumerable (For Each, Enumerator).
#include <memory>
#include <string>
#include <vector>

#include "com/com_object.h"
#include "host_dispatch.h"

namespace tarn::host {

using ArgumentList = std::shared_ptr<const std::vector<std::wstring>>;

class Arguments : public TableDispatch<Arguments> {
public:
    using Interfaces = InterfaceTable<Entry<IDispatch>>;
    static constexpr bool kAtomicRefCount = false;  // lives in the script's apartment
    static const Member<Arguments> kMembers[];
    static const size_t kMemberCount;

    explicit Arguments(ArgumentList list) : list_(std::move(list)) {}

    HRESULT Item(const Call& call);
    HRESULT Count(const Call& call);
    HRESULT NewEnum(const Call& call);

private:
    ArgumentList list_;
};

}  // namespace tarn::host
