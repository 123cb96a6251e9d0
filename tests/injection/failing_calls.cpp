#include "injection/failing_calls.h"

#include <oleauto.h>
#include <process.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>

#include "injection/import_table.h"

namespace tarn::test {
namespace {

std::atomic<bool> armed{false};
std::atomic<long> calls{0};
std::atomic<long> failAt{0};
std::atomic<const char*> failed{nullptr};
std::atomic<long> liveBlocks{0};

bool ShouldFail(const char* name) {
    if (!armed.load()) return false;
    const long n = ++calls;
    static const bool trace = std::getenv("TARN_INJECTION_TRACE") != nullptr;
    if (trace) std::fprintf(stderr, "  call %ld: %s on thread %lu\n", n, name, ::GetCurrentThreadId());
    if (n != failAt.load()) return false;
    failed = name;
    return true;
}

// One wrapper per function: NAME's original is kept in original_NAME, and the
// wrapper runs FAIL (which returns the failure) when its call is the one to fail.
#define FAILABLE(Result, Convention, Name, Params, Args, Fail) \
    Result(Convention* original_##Name) Params = nullptr;       \
    Result Convention Failing_##Name Params {                   \
        if (ShouldFail(#Name)) { Fail; }                        \
        return original_##Name Args;                            \
    }

#define NULL_WITH(error) \
    ::SetLastError(error); \
    return nullptr

FAILABLE(void*, __cdecl, calloc, (size_t n, size_t size), (n, size), return nullptr)
FAILABLE(BSTR, WINAPI, SysAllocString, (const OLECHAR* s), (s), return nullptr)
FAILABLE(BSTR, WINAPI, SysAllocStringLen, (const OLECHAR* s, UINT n), (s, n), return nullptr)
FAILABLE(BSTR, WINAPI, SysAllocStringByteLen, (LPCSTR s, UINT n), (s, n), return nullptr)
FAILABLE(SAFEARRAY*, WINAPI, SafeArrayCreate, (VARTYPE vt, UINT dims, SAFEARRAYBOUND* bounds), (vt, dims, bounds),
         return nullptr)
FAILABLE(SAFEARRAY*, WINAPI, SafeArrayCreateVector, (VARTYPE vt, LONG lower, ULONG n), (vt, lower, n), return nullptr)
FAILABLE(HRESULT, WINAPI, SafeArrayCopy, (SAFEARRAY * from, SAFEARRAY** to), (from, to),
         if (to) *to = nullptr;
         return E_OUTOFMEMORY)
// Each copies a string (and PutElement frees what the slot held first).
FAILABLE(HRESULT, WINAPI, SafeArrayGetElement, (SAFEARRAY * array, LONG* index, void* value), (array, index, value),
         return E_OUTOFMEMORY)
FAILABLE(HRESULT, WINAPI, SafeArrayPutElement, (SAFEARRAY * array, LONG* index, void* value), (array, index, value),
         return E_OUTOFMEMORY)
FAILABLE(HRESULT, WINAPI, ProgIDFromCLSID, (REFCLSID clsid, LPOLESTR* progId), (clsid, progId),
         if (progId) *progId = nullptr;
         return E_OUTOFMEMORY)
FAILABLE(HRESULT, WINAPI, VariantCopy, (VARIANTARG * to, const VARIANTARG* from), (to, from), return E_OUTOFMEMORY)
FAILABLE(HRESULT, WINAPI, VariantCopyInd, (VARIANT * to, const VARIANTARG* from), (to, from), return E_OUTOFMEMORY)
FAILABLE(HRESULT, WINAPI, VariantChangeType, (VARIANTARG * to, const VARIANTARG* from, USHORT flags, VARTYPE vt),
         (to, from, flags, vt), return E_OUTOFMEMORY)
FAILABLE(HRESULT, WINAPI, VariantChangeTypeEx,
         (VARIANTARG * to, const VARIANTARG* from, LCID lcid, USHORT flags, VARTYPE vt), (to, from, lcid, flags, vt),
         return E_OUTOFMEMORY)
FAILABLE(HRESULT, WINAPI, CreateErrorInfo, (ICreateErrorInfo * *info), (info),
         if (info) *info = nullptr;
         return E_OUTOFMEMORY)
FAILABLE(HANDLE, WINAPI, CreateEventW, (LPSECURITY_ATTRIBUTES sa, BOOL manual, BOOL initial, LPCWSTR name),
         (sa, manual, initial, name), NULL_WITH(ERROR_NOT_ENOUGH_MEMORY))
FAILABLE(HANDLE, WINAPI, CreateMutexW, (LPSECURITY_ATTRIBUTES sa, BOOL owned, LPCWSTR name), (sa, owned, name),
         NULL_WITH(ERROR_NOT_ENOUGH_MEMORY))
FAILABLE(HANDLE, WINAPI, CreateThread,
         (LPSECURITY_ATTRIBUTES sa, SIZE_T stack, LPTHREAD_START_ROUTINE start, LPVOID context, DWORD flags,
          LPDWORD id),
         (sa, stack, start, context, flags, id), NULL_WITH(ERROR_NOT_ENOUGH_MEMORY))
FAILABLE(uintptr_t, __cdecl, _beginthreadex,
         (void* sa, unsigned stack, unsigned(__stdcall* start)(void*), void* context, unsigned flags, unsigned* id),
         (sa, stack, start, context, flags, id), errno = EAGAIN;
         return 0)
// A key that cannot be opened (missing, or full access refused); reads of an
// open key that run short of memory.
FAILABLE(LONG, WINAPI, RegOpenKeyExW, (HKEY parent, LPCWSTR name, DWORD options, REGSAM access, PHKEY key),
         (parent, name, options, access, key), return ERROR_ACCESS_DENIED)
FAILABLE(LONG, WINAPI, RegQueryInfoKeyW,
         (HKEY key, LPWSTR cls, LPDWORD clsLength, LPDWORD reserved, LPDWORD subKeys, LPDWORD longestSubKey,
          LPDWORD longestClass, LPDWORD values, LPDWORD longestName, LPDWORD largestData, LPDWORD security,
          PFILETIME written),
         (key, cls, clsLength, reserved, subKeys, longestSubKey, longestClass, values, longestName, largestData,
          security, written),
         return ERROR_NOT_ENOUGH_MEMORY)
FAILABLE(LONG, WINAPI, RegEnumValueW,
         (HKEY key, DWORD index, LPWSTR name, LPDWORD nameLength, LPDWORD reserved, LPDWORD type, LPBYTE data,
          LPDWORD size),
         (key, index, name, nameLength, reserved, type, data, size), return ERROR_NOT_ENOUGH_MEMORY)
FAILABLE(LONG, WINAPI, RegQueryValueExW,
         (HKEY key, LPCWSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD size),
         (key, name, reserved, type, data, size), return ERROR_NOT_ENOUGH_MEMORY)

// The heap: besides failing, these keep the count of the module's live blocks.
void*(__cdecl* original_malloc)(size_t) = nullptr;
void*(__cdecl* original_realloc)(void*, size_t) = nullptr;
void(__cdecl* original_free)(void*) = nullptr;

void* __cdecl Failing_malloc(size_t size) {
    if (ShouldFail("malloc")) return nullptr;
    void* block = original_malloc(size);
    if (block) ++liveBlocks;
    return block;
}
void* __cdecl Counting_calloc(size_t n, size_t size) {
    void* block = Failing_calloc(n, size);
    if (block) ++liveBlocks;
    return block;
}
void* __cdecl Failing_realloc(void* block, size_t size) {
    if (ShouldFail("realloc")) return nullptr;  // the block stays as it was
    void* moved = original_realloc(block, size);
    if (!block && moved) ++liveBlocks;
    if (block && size == 0) --liveBlocks;  // freed
    return moved;
}
void __cdecl Counting_free(void* block) {
    if (block) --liveBlocks;
    original_free(block);
}

struct Redirection {
    const char* name;
    void* replacement;
    void** original;
};

#define REDIRECT(Name) {#Name, reinterpret_cast<void*>(&Failing_##Name), reinterpret_cast<void**>(&original_##Name)}

const Redirection kRedirections[] = {
    REDIRECT(malloc),
    REDIRECT(realloc),
    {"calloc", reinterpret_cast<void*>(&Counting_calloc), reinterpret_cast<void**>(&original_calloc)},
    {"free", reinterpret_cast<void*>(&Counting_free), reinterpret_cast<void**>(&original_free)},
    REDIRECT(SysAllocString),
    REDIRECT(SysAllocStringLen),
    REDIRECT(SysAllocStringByteLen),
    REDIRECT(SafeArrayCreate),
    REDIRECT(SafeArrayCreateVector),
    REDIRECT(SafeArrayCopy),
    REDIRECT(SafeArrayGetElement),
    REDIRECT(SafeArrayPutElement),
    REDIRECT(ProgIDFromCLSID),
    REDIRECT(VariantCopy),
    REDIRECT(VariantCopyInd),
    REDIRECT(VariantChangeType),
    REDIRECT(VariantChangeTypeEx),
    REDIRECT(CreateErrorInfo),
    REDIRECT(CreateEventW),
    REDIRECT(CreateMutexW),
    REDIRECT(CreateThread),
    REDIRECT(_beginthreadex),
    REDIRECT(RegOpenKeyExW),
    REDIRECT(RegQueryInfoKeyW),
    REDIRECT(RegEnumValueW),
    REDIRECT(RegQueryValueExW),
};

}  // namespace

std::vector<std::string> FailingCalls::Install(HMODULE module) {
    std::vector<std::string> redirected;
    for (const Redirection& r : kRedirections) {
        if (void* original = RedirectImport(module, r.name, r.replacement)) {
            *r.original = original;
            redirected.emplace_back(r.name);
        }
    }
    return redirected;
}

void FailingCalls::Arm(long at) {
    failed = nullptr;
    calls = 0;
    failAt = at;
    armed = true;
}

long FailingCalls::Disarm() {
    armed = false;
    return calls.load();
}

std::string FailingCalls::Failed() {
    const char* name = failed.load();
    return name ? name : "";
}

long FailingCalls::LiveBlocks() { return liveBlocks.load(); }

}  // namespace tarn::test
