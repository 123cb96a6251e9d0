#pragma once
// WScript.StdOut and WScript.StdErr: the write side of a text stream.
#include "com/com_object.h"
#include "console_text.h"
#include "host_dispatch.h"

namespace tarn::host {

class TextStream : public TableDispatch<TextStream> {
public:
    using Interfaces = InterfaceTable<Entry<IDispatch>>;
    static constexpr bool kAtomicRefCount = false;
    static const Member<TextStream> kMembers[];
    static const size_t kMemberCount;

    explicit TextStream(Stream stream) : stream_(stream) {}

    HRESULT Write(const Call& call);
    HRESULT WriteLine(const Call& call);
    HRESULT WriteBlankLines(const Call& call);

private:
    Stream stream_;
};

}  // namespace tarn::host
