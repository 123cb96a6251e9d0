// DriverEnumerator against the prefix's real serial-port map.  Each test writes
// the values it needs into HKLM\HARDWARE\DEVICEMAP\SERIALCOMM and puts back
// what was there before.
#include <utility>

#include "common/com_test_support.h"

namespace tarn::test {
namespace {

const wchar_t kSerialMap[] = L"HARDWARE\\DEVICEMAP\\SERIALCOMM";

struct RegistryValue {
    std::wstring name;
    DWORD type;
    std::vector<BYTE> data;
};

// Saves the serial-port map, empties it, and restores it at the end.
class SerialMap {
public:
    SerialMap() {
        existed_ = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSerialMap, 0, KEY_ALL_ACCESS, &key_) == ERROR_SUCCESS;
        if (!existed_) Create();
        for (DWORD i = 0;; ++i) {
            wchar_t name[256];
            DWORD nameLength = 256, type = 0, size = 0;
            if (::RegEnumValueW(key_, i, name, &nameLength, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) break;
            RegistryValue value{std::wstring(name, nameLength), type, std::vector<BYTE>(size)};
            nameLength = 256;
            ::RegEnumValueW(key_, i, name, &nameLength, nullptr, &type, value.data.data(), &size);
            saved_.push_back(std::move(value));
        }
        Clear();
    }
    ~SerialMap() {
        if (!key_) Create();
        Clear();
        for (const auto& value : saved_)
            ::RegSetValueExW(key_, value.name.c_str(), 0, value.type, value.data.data(),
                             static_cast<DWORD>(value.data.size()));
        ::RegCloseKey(key_);
        if (!existed_) ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, kSerialMap);
    }

    void SetString(const wchar_t* name, const wchar_t* text) {
        ::RegSetValueExW(key_, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                         static_cast<DWORD>((wcslen(text) + 1) * sizeof(wchar_t)));
    }
    void SetRaw(const wchar_t* name, DWORD type, const void* data, DWORD size) {
        ::RegSetValueExW(key_, name, 0, type, static_cast<const BYTE*>(data), size);
    }
    void RemoveKey() {
        Clear();
        ::RegCloseKey(key_);
        key_ = nullptr;
        ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, kSerialMap);
    }

private:
    void Create() {
        ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kSerialMap, 0, nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr,
                          &key_, nullptr);
    }
    void Clear() {
        wchar_t name[256];
        DWORD length = 256;
        while (::RegEnumValueW(key_, 0, name, &length, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS) {
            ::RegDeleteValueW(key_, name);
            length = 256;
        }
    }

    HKEY key_ = nullptr;
    bool existed_ = false;
    std::vector<RegistryValue> saved_;
};

class Bstr {
public:
    explicit Bstr(const wchar_t* text) : text_(text ? ::SysAllocString(text) : nullptr) {}
    ~Bstr() { ::SysFreeString(text_); }
    operator BSTR() const { return text_; }

private:
    BSTR text_;
};

std::vector<std::wstring> Names(SAFEARRAY* array) {
    std::vector<std::wstring> names;
    LONG lower = 0, upper = -1;
    ::SafeArrayGetLBound(array, 1, &lower);
    ::SafeArrayGetUBound(array, 1, &upper);
    for (LONG i = lower; i <= upper; ++i) {
        BSTR name = nullptr;
        ::SafeArrayGetElement(array, &i, &name);
        names.push_back(name ? name : L"<null>");
        ::SysFreeString(name);
    }
    return names;
}

using List = std::vector<std::wstring>;

class Enumerator : public ComTest {
protected:
    void SetUp() override {
        ComTest::SetUp();
        enumerator_ = CreateByProgId<IDriverEnumerator>(L"TarnDriver.DriverEnumerator");
        ASSERT_TRUE(enumerator_);
        missing_.vt = VT_ERROR;
        missing_.scode = DISP_E_PARAMNOTFOUND;
    }
    void TearDown() override {
        if (array_) ::SafeArrayDestroy(array_);
        enumerator_.reset();
        ComTest::TearDown();
    }

    HRESULT Enumerate(const wchar_t* family, const wchar_t* option = nullptr) {
        return enumerator_->EnumeratePorts(Bstr(family), &array_, Bstr(option), missing_, missing_);
    }

    SerialMap map_;
    ComPtr<IDriverEnumerator> enumerator_;
    SAFEARRAY* array_ = nullptr;
    VARIANT missing_;
};

TEST_F(Enumerator, ListsPortsInRegistryOrderAsNamesOrNumbers) {
    // Value names decide the registry's index order here; the ports are not sorted.
    map_.SetString(L"\\Device\\Serial0", L"COM3");
    map_.SetString(L"\\Device\\Serial1", L"COM1");
    map_.SetString(L"\\Device\\Serial2", L"WIDGET");
    ASSERT_EQ(Enumerate(L"serial"), S_OK);
    EXPECT_EQ(Names(array_), (List{L"COM3", L"COM1", L"WIDGET"}));
    LONG lower = -1;
    ::SafeArrayGetLBound(array_, 1, &lower);
    EXPECT_EQ(lower, 0);
    ::SafeArrayDestroy(array_);
    array_ = nullptr;

    for (const wchar_t* option : {L"rawnumbers", L"RawNumbers", L"RAWNUMBERS"}) {
        ASSERT_EQ(Enumerate(L"Serial", option), S_OK) << option;
        EXPECT_EQ(Names(array_), (List{L"3", L"1", L"GET"})) << "the first three characters go, whatever they are";
        ::SafeArrayDestroy(array_);
        array_ = nullptr;
    }
    for (const wchar_t* option : {L"raw", L"rawnumbers2", L"", static_cast<const wchar_t*>(nullptr)}) {
        ASSERT_EQ(Enumerate(L"SERIAL", option), S_OK);
        EXPECT_EQ(Names(array_), (List{L"COM3", L"COM1", L"WIDGET"})) << (option ? option : L"(null)");
        ::SafeArrayDestroy(array_);
        array_ = nullptr;
    }
}

TEST_F(Enumerator, UnknownFamilyFailsWithMessageAndLeavesTheArray) {
    map_.SetString(L"a", L"COM5");
    for (const wchar_t* family : {L"usb", L"serial ", L""}) {
        SCOPED_TRACE(testing::Message() << "family '" << family << "'");
        array_ = reinterpret_cast<SAFEARRAY*>(0x1234);  // never looked at
        EXPECT_EQ(Enumerate(family), DISP_E_EXCEPTION);
        EXPECT_EQ(array_, reinterpret_cast<SAFEARRAY*>(0x1234));
        array_ = nullptr;
        ErrorRecord error = TakeErrorInfo();
        EXPECT_TRUE(error.present);
        EXPECT_EQ(error.description, L"Unknown Port Family");
        EXPECT_EQ(error.source, L"TarnDriver.DriverEnumerator.1");
        EXPECT_TRUE(::IsEqualGUID(error.iid, GUID_NULL));
    }
}

TEST_F(Enumerator, NullPointersFailWithoutErrorInformation) {
    ::SetErrorInfo(0, nullptr);
    EXPECT_EQ(enumerator_->EnumeratePorts(nullptr, &array_, nullptr, missing_, missing_), E_POINTER);
    EXPECT_EQ(enumerator_->EnumeratePorts(Bstr(L"serial"), nullptr, nullptr, missing_, missing_), E_POINTER);
    EXPECT_FALSE(TakeErrorInfo().present);
}

TEST_F(Enumerator, NoPortsGiveAnEmptyArray) {
    ASSERT_EQ(Enumerate(L"serial"), S_OK);
    ASSERT_NE(array_, nullptr);
    EXPECT_TRUE(Names(array_).empty());
    ::SafeArrayDestroy(array_);
    array_ = nullptr;

    map_.RemoveKey();
    ASSERT_EQ(Enumerate(L"serial"), S_OK) << "a missing key is no error";
    ASSERT_NE(array_, nullptr);
    EXPECT_TRUE(Names(array_).empty());
}

TEST_F(Enumerator, ArrayThatComesInIsFilledFromTheStart) {
    map_.SetString(L"a", L"COM8");
    map_.SetString(L"b", L"COM9");
    SAFEARRAYBOUND five{5, 0};
    array_ = ::SafeArrayCreate(VT_BSTR, 1, &five);
    for (LONG i = 0; i < 5; ++i) ::SafeArrayPutElement(array_, &i, Bstr(L"old"));
    SAFEARRAY* const given = array_;
    ASSERT_EQ(Enumerate(L"serial"), S_OK);
    EXPECT_EQ(array_, given) << "the same array comes back";
    EXPECT_EQ(Names(array_), (List{L"COM8", L"COM9", L"old", L"old", L"old"}));

    // Passing the result back fills it again, keeping its size.
    map_.SetString(L"c", L"COM10");
    ASSERT_EQ(Enumerate(L"serial", L"rawnumbers"), S_OK);
    EXPECT_EQ(Names(array_), (List{L"8", L"9", L"10", L"old", L"old"}));
}

TEST_F(Enumerator, ArrayTooSmallIsReplacedNeverOverrun) {
    map_.SetString(L"a", L"COM1");
    map_.SetString(L"b", L"COM2");
    map_.SetString(L"c", L"COM3");
    SAFEARRAYBOUND one{1, 0};
    array_ = ::SafeArrayCreate(VT_BSTR, 1, &one);
    ASSERT_EQ(Enumerate(L"serial"), S_OK);
    EXPECT_EQ(Names(array_), (List{L"COM1", L"COM2", L"COM3"}));

    ::SafeArrayDestroy(array_);
    SAFEARRAYBOUND shifted{5, 1};
    array_ = ::SafeArrayCreate(VT_BSTR, 1, &shifted);
    ASSERT_EQ(Enumerate(L"serial"), S_OK);
    LONG lower = -1;
    ::SafeArrayGetLBound(array_, 1, &lower);
    EXPECT_EQ(lower, 0) << "an array with another lower bound is replaced";
    EXPECT_EQ(Names(array_), (List{L"COM1", L"COM2", L"COM3"}));
}

TEST_F(Enumerator, WrongArraysAreRefusedUntouched) {
    map_.SetString(L"a", L"COM1");
    SAFEARRAYBOUND two{2, 0};
    array_ = ::SafeArrayCreate(VT_I4, 1, &two);
    SAFEARRAY* const numbers = array_;
    EXPECT_EQ(Enumerate(L"serial"), E_INVALIDARG);
    EXPECT_EQ(array_, numbers);
    ::SafeArrayDestroy(array_);

    SAFEARRAYBOUND four[4] = {{1, 0}, {1, 0}, {1, 0}, {1, 0}};
    array_ = ::SafeArrayCreate(VT_BSTR, 4, four);
    SAFEARRAY* const deep = array_;
    EXPECT_EQ(Enumerate(L"serial"), E_INVALIDARG);
    EXPECT_EQ(array_, deep);
}

// An array too small for the list is replaced only when its owner allows it:
// a fixed, static, stack or embedded array, or one locked by a loop over it,
// is refused and left exactly as it came.
TEST_F(Enumerator, PinnedArraysAreRefusedNeverDestroyed) {
    map_.SetString(L"a", L"COM1");
    map_.SetString(L"b", L"COM2");
    const struct {
        const char* what;
        USHORT feature;
        bool locked;
    } kPins[] = {{"fixed size", FADF_FIXEDSIZE, false}, {"static", FADF_STATIC, false},
                 {"auto", FADF_AUTO, false},            {"embedded", FADF_EMBEDDED, false},
                 {"locked", 0, true}};
    for (const auto& pin : kPins) {
        SAFEARRAYBOUND one{1, 0};
        SAFEARRAY* const given = ::SafeArrayCreate(VT_BSTR, 1, &one);
        LONG first = 0;
        ::SafeArrayPutElement(given, &first, Bstr(L"mine"));
        given->fFeatures |= pin.feature;
        if (pin.locked) ::SafeArrayLock(given);
        array_ = given;
        EXPECT_EQ(Enumerate(L"serial"), E_INVALIDARG) << pin.what;
        const bool kept = array_ == given;
        EXPECT_TRUE(kept) << pin.what;
        array_ = nullptr;
        if (!kept) continue;  // already destroyed by the call: nothing left to check or free
        EXPECT_EQ(Names(given), (List{L"mine"})) << pin.what;
        if (pin.locked) ::SafeArrayUnlock(given);
        given->fFeatures &= ~pin.feature;
        ::SafeArrayDestroy(given);
    }
}

TEST_F(Enumerator, OddValuesAreHandledSafely) {
    map_.SetString(L"a", L"CO");                                        // too short for the cut
    const DWORD number = 7;
    map_.SetRaw(L"b", REG_DWORD, &number, sizeof(number));              // not a port name
    const wchar_t unterminated[] = {L'C', L'O', L'M', L'4'};
    map_.SetRaw(L"c", REG_SZ, unterminated, sizeof(unterminated));      // no terminating NUL
    ASSERT_EQ(Enumerate(L"serial", L"rawnumbers"), S_OK);
    EXPECT_EQ(Names(array_), (List{L"", L"4"}));
}

}  // namespace
}  // namespace tarn::test
