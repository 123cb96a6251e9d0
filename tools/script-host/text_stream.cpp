#include "text_stream.h"

namespace tarn::host {

const Member<TextStream> TextStream::kMembers[] = {
    {L"Write", 1, &TextStream::Write},
    {L"WriteLine", 2, &TextStream::WriteLine},
    {L"WriteBlankLines", 3, &TextStream::WriteBlankLines},
};
const size_t TextStream::kMemberCount = sizeof(kMembers) / sizeof(kMembers[0]);

HRESULT TextStream::Write(const Call& call) {
    std::wstring text;
    RETURN_IF_FAILED(call.Text(0, text));
    host::WriteText(stream_, text);
    return S_OK;
}

HRESULT TextStream::WriteLine(const Call& call) {
    std::wstring text;
    if (call.Has(0)) RETURN_IF_FAILED(call.Text(0, text));
    host::WriteLine(stream_, text);
    return S_OK;
}

HRESULT TextStream::WriteBlankLines(const Call& call) {
    LONG lines = 0;
    RETURN_IF_FAILED(call.Long(0, lines));
    for (LONG i = 0; i < lines; ++i) host::WriteLine(stream_, std::wstring());
    return S_OK;
}

}  // namespace tarn::host
