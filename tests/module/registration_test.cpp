// Registration and unregistration, and type information that becomes available
// once the library is registered.  This program unregisters the module while it
// runs and always registers it again before it ends.
#include "common/com_test_support.h"

namespace tarn::test {
namespace {

const wchar_t kClsidKey[] = L"CLSID\\{2164C0FB-F841-4C92-AEF0-D6B22D04C922}";

bool KeyExists(const std::wstring& path) {
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    ::RegCloseKey(key);
    return true;
}

std::wstring StringValue(const std::wstring& path, const wchar_t* name = nullptr) {
    wchar_t data[512] = {};
    DWORD size = sizeof(data);
    if (::RegGetValueW(HKEY_CLASSES_ROOT, path.c_str(), name, RRF_RT_REG_SZ, nullptr, data, &size) != ERROR_SUCCESS)
        return L"<missing>";
    return data;
}

// The library's entries under its version key: this build's platform and the other's.
const std::wstring kVersionKey = L"TypeLib\\{5A4FDAAF-053D-4135-8AC1-747A5E1B8186}\\1.0\\0\\";
const std::wstring kOwnEntry = kVersionKey + (sizeof(void*) == 8 ? L"win64" : L"win32");
const std::wstring kOtherEntry = kVersionKey + (sizeof(void*) == 8 ? L"win32" : L"win64");

// Takes the other build's entry away while it lives: a 64-bit process falls
// back to a win32 entry, so with both builds registered side by side the
// library would stay loadable after this build unregisters.
class OtherEntrySetAside {
public:
    OtherEntrySetAside() : path_(StringValue(kOtherEntry)) {
        if (path_ != L"<missing>") ::RegDeleteKeyW(HKEY_CLASSES_ROOT, kOtherEntry.c_str());
    }
    ~OtherEntrySetAside() {
        if (path_ == L"<missing>") return;
        ::RegSetKeyValueW(HKEY_CLASSES_ROOT, kOtherEntry.c_str(), nullptr, REG_SZ, path_.c_str(),
                          static_cast<DWORD>((path_.size() + 1) * sizeof(wchar_t)));
    }
    OtherEntrySetAside(const OtherEntrySetAside&) = delete;
    OtherEntrySetAside& operator=(const OtherEntrySetAside&) = delete;

private:
    std::wstring path_;
};

class Registration : public ComTest {
protected:
    void SetUp() override {
        ComTest::SetUp();
        module_ = ::LoadLibraryW(ModulePath().c_str());
        ASSERT_NE(module_, nullptr);
        register_ = reinterpret_cast<Export>(::GetProcAddress(module_, "DllRegisterServer"));
        unregister_ = reinterpret_cast<Export>(::GetProcAddress(module_, "DllUnregisterServer"));
        getClassObject_ = reinterpret_cast<GetClassObject>(::GetProcAddress(module_, "DllGetClassObject"));
        ASSERT_TRUE(register_ && unregister_ && getClassObject_);
    }
    void TearDown() override {
        EXPECT_HRESULT_SUCCEEDED(register_()) << "the module stays registered for the other tests";
        ::FreeLibrary(module_);
        ComTest::TearDown();
    }

    using Export = HRESULT(STDAPICALLTYPE*)();
    using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    HMODULE module_ = nullptr;
    Export register_ = nullptr, unregister_ = nullptr;
    GetClassObject getClassObject_ = nullptr;
};

TEST_F(Registration, WritesEveryClassWithItsThreadingModel) {
    ASSERT_HRESULT_SUCCEEDED(register_());
    struct Expected {
        const wchar_t* name;
        const wchar_t* clsid;
        const wchar_t* threading;
    };
    const Expected classes[] = {
        {L"Rs232Driver", L"{2164C0FB-F841-4C92-AEF0-D6B22D04C922}", L"Both"},
        {L"UsbDriver", L"{5AA32D6D-FCE2-4C6D-A139-6EFADC92A790}", L"Both"},
        {L"Rs232DigitalIoDriver", L"{7FFFCA13-F494-4E22-B23E-405069B93B83}", L"Free"},
        {L"DriverEnumerator", L"{B22E6CCA-AD9C-4574-A1E4-B5D1BB8E593D}", L"Apartment"},
    };
    for (const auto& c : classes) {
        SCOPED_TRACE(testing::Message() << c.name);
        const std::wstring progId = std::wstring(L"TarnDriver.") + c.name;
        const std::wstring description = std::wstring(c.name) + L" Class";
        const std::wstring clsidKey = std::wstring(L"CLSID\\") + c.clsid;
        EXPECT_EQ(StringValue(progId + L".1"), description);
        EXPECT_EQ(StringValue(progId + L".1\\CLSID"), c.clsid);
        EXPECT_EQ(StringValue(progId), description);
        EXPECT_EQ(StringValue(progId + L"\\CLSID"), c.clsid);
        EXPECT_EQ(StringValue(progId + L"\\CurVer"), progId + L".1");
        EXPECT_EQ(StringValue(clsidKey), description);
        EXPECT_EQ(StringValue(clsidKey + L"\\ProgID"), progId + L".1");
        EXPECT_EQ(StringValue(clsidKey + L"\\VersionIndependentProgID"), progId);
        EXPECT_TRUE(KeyExists(clsidKey + L"\\Programmable"));
        EXPECT_EQ(StringValue(clsidKey + L"\\InprocServer32", L"ThreadingModel"), c.threading);
        EXPECT_EQ(StringValue(clsidKey + L"\\TypeLib"), L"{5A4FDAAF-053D-4135-8AC1-747A5E1B8186}");
        const std::wstring server = StringValue(clsidKey + L"\\InprocServer32");
        EXPECT_EQ(server.substr(server.size() - 15), L"\\TarnDriver.DLL");
    }
    ComPtr<ITypeLib> library;
    EXPECT_HRESULT_SUCCEEDED(::LoadRegTypeLib(LIBID_TarnDriver, 1, 0, 0, library.put()));
}

TEST_F(Registration, RegisteringAgainReplacesTheClassKeyWhole) {
    ASSERT_HRESULT_SUCCEEDED(register_());
    HKEY stale = nullptr;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_CLASSES_ROOT, (std::wstring(kClsidKey) + L"\\Stale").c_str(), 0, nullptr, 0,
                                KEY_WRITE, nullptr, &stale, nullptr),
              ERROR_SUCCESS);
    ::RegCloseKey(stale);
    ASSERT_HRESULT_SUCCEEDED(register_());
    EXPECT_FALSE(KeyExists(std::wstring(kClsidKey) + L"\\Stale"));
    EXPECT_TRUE(KeyExists(std::wstring(kClsidKey) + L"\\InprocServer32"));
}

// Type information is looked up through the registry on first use: before the
// library is registered that fails, and once it is registered the same module
// answers, without being loaded again.
TEST_F(Registration, UnregisteringRemovesEverythingAndDispatchRecovers) {
    const OtherEntrySetAside setAside;
    ASSERT_HRESULT_SUCCEEDED(unregister_());
    EXPECT_FALSE(KeyExists(L"TarnDriver.Rs232Driver"));
    EXPECT_FALSE(KeyExists(L"TarnDriver.Rs232Driver.1"));
    EXPECT_FALSE(KeyExists(kClsidKey));
    EXPECT_TRUE(KeyExists(L"CLSID")) << "the shared CLSID key stays";
    ComPtr<ITypeLib> library;
    EXPECT_HRESULT_FAILED(::LoadRegTypeLib(LIBID_TarnDriver, 1, 0, 0, library.put()));

    // The UsbDriver's type information has not been needed in this process yet.
    ComPtr<IClassFactory> factory;
    ASSERT_HRESULT_SUCCEEDED(getClassObject_(CLSID_UsbDriver, IID_IClassFactory, factory.put_void()));
    ComPtr<IDispatch> usb;
    ASSERT_HRESULT_SUCCEEDED(factory->CreateInstance(nullptr, IID_IDispatch, usb.put_void()));
    DISPID id = 0;
    EXPECT_HRESULT_FAILED(DispIdOf(usb.get(), L"Close", id));
    DISPPARAMS none{};
    EXPECT_HRESULT_FAILED(usb->Invoke(102, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr));

    ASSERT_HRESULT_SUCCEEDED(register_());
    EXPECT_HRESULT_SUCCEEDED(DispIdOf(usb.get(), L"Close", id));
    EXPECT_EQ(id, 102);
}

// A 32-bit and a 64-bit build registered side by side share the library's
// version key, each with an entry of its own platform; unregistering one build
// removes its own entry and leaves the other's.  Where the other build is not
// registered, an entry is planted for it (and taken away again afterwards).
TEST_F(Registration, UnregisteringRemovesOnlyThisPlatformsTypeLibraryEntry) {
    const std::wstring& own = kOwnEntry;
    const std::wstring& other = kOtherEntry;

    ASSERT_HRESULT_SUCCEEDED(register_());
    ASSERT_TRUE(KeyExists(own)) << "the library is filed under this build's platform";
    const bool planted = !KeyExists(other);
    if (planted) {
        const std::wstring path = ModulePath();
        ASSERT_EQ(::RegSetKeyValueW(HKEY_CLASSES_ROOT, other.c_str(), nullptr, REG_SZ, path.c_str(),
                                    static_cast<DWORD>((path.size() + 1) * sizeof(wchar_t))),
                  ERROR_SUCCESS);
    }
    const std::wstring otherBefore = StringValue(other);

    EXPECT_HRESULT_SUCCEEDED(unregister_());
    EXPECT_FALSE(KeyExists(own));
    EXPECT_EQ(StringValue(other), otherBefore);

    if (planted) ::RegDeleteKeyW(HKEY_CLASSES_ROOT, other.c_str());
}

}  // namespace
}  // namespace tarn::test
