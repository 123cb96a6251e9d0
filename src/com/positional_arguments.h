#pragma once
// Named arguments, put in their parameters' places before the type
// information's dispatch sees them.  That dispatch binds a named argument to
// its parameter, but afterwards writes in-out parameters back, and lets go of
// its copies, by position: with a name that binds nothing it wrote to (and
// freed) another of the caller's arguments.  A list in which every argument
// stands in its place leaves it nothing to get wrong.
#include <windows.h>
#include <oaidl.h>

#include <vector>

namespace tarn {

class PositionalArguments {
public:
    // Arranges `params` for the member `id` called with `flags`: shallow copies
    // of the caller's arguments, each in its parameter's place, and a missing
    // optional parameter before the last given one as DISP_E_PARAMNOTFOUND.
    // A name that binds no parameter, or one already bound, is refused with
    // DISP_E_PARAMNOTFOUND and its index in `argumentError`.  Properties and
    // members the type information does not describe stay as they came.
    HRESULT Arrange(ITypeInfo* info, DISPID id, WORD flags, const DISPPARAMS& params,
                    UINT* argumentError) noexcept;

    DISPPARAMS* Params() noexcept { return &params_; }
    // The caller's index of the argument at `index` of Params(), for errors.
    UINT CallerIndex(UINT index) const noexcept;

private:
    HRESULT CopyAsTheyCame(const DISPPARAMS& params) noexcept;

    static constexpr UINT kMissing = ~0u;
    std::vector<VARIANTARG> arguments_;
    std::vector<UINT> callerIndex_;  // of each argument; kMissing for a placeholder
    DISPPARAMS params_{};
};

}  // namespace tarn
