// The module as COM sees it: class objects, unload rules, aggregation, the
// interfaces each class answers, and class information.
#include <olectl.h>

#include <functional>
#include <utility>
#include <vector>

#include "common/com_test_support.h"

namespace tarn::test {
namespace {

struct ClassUnderTest {
    const wchar_t* progId;
    const CLSID* clsid;
    const IID* dual;
    bool connectionPoints;
};

const ClassUnderTest kClasses[] = {
    {L"TarnDriver.Rs232Driver", &CLSID_Rs232Driver, &IID_IRs232Driver, false},
    {L"TarnDriver.UsbDriver", &CLSID_UsbDriver, &IID_IUsbDriver, false},
    {L"TarnDriver.Rs232DigitalIoDriver", &CLSID_Rs232DigitalIoDriver, &IID_IRs232DigitalIoDriver, true},
    {L"TarnDriver.DriverEnumerator", &CLSID_DriverEnumerator, &IID_IDriverEnumerator, false},
};

// The module loaded directly, as the COM run time does, for its exports.
class ModuleExports : public ComTest {
protected:
    void SetUp() override {
        ComTest::SetUp();
        module_ = ::LoadLibraryW(ModulePath().c_str());
        ASSERT_NE(module_, nullptr);
        canUnloadNow_ = reinterpret_cast<decltype(canUnloadNow_)>(::GetProcAddress(module_, "DllCanUnloadNow"));
        getClassObject_ =
            reinterpret_cast<decltype(getClassObject_)>(::GetProcAddress(module_, "DllGetClassObject"));
        ASSERT_NE(canUnloadNow_, nullptr);
        ASSERT_NE(getClassObject_, nullptr);
    }
    void TearDown() override {
        ::FreeLibrary(module_);
        ComTest::TearDown();
    }

    ComPtr<IClassFactory> ClassObject(REFCLSID clsid) {
        ComPtr<IClassFactory> factory;
        EXPECT_HRESULT_SUCCEEDED(getClassObject_(clsid, IID_IClassFactory, factory.put_void()));
        return factory;
    }

    HMODULE module_ = nullptr;
    HRESULT(STDAPICALLTYPE* canUnloadNow_)() = nullptr;
    HRESULT(STDAPICALLTYPE* getClassObject_)(REFCLSID, REFIID, void**) = nullptr;
};

TEST_F(ModuleExports, UnloadsOnlyWhenNothingHoldsIt) {
    EXPECT_EQ(canUnloadNow_(), S_OK);
    for (const auto& c : kClasses) {
        SCOPED_TRACE(testing::Message() << c.progId);
        ComPtr<IClassFactory> factory = ClassObject(*c.clsid);
        ASSERT_TRUE(factory);
        EXPECT_EQ(canUnloadNow_(), S_FALSE) << "a held class object keeps the module";

        ComPtr<IUnknown> object;
        ASSERT_HRESULT_SUCCEEDED(factory->CreateInstance(nullptr, IID_IUnknown, object.put_void()));
        factory.reset();
        EXPECT_EQ(canUnloadNow_(), S_FALSE) << "a living object keeps the module";
        object.reset();
        EXPECT_EQ(canUnloadNow_(), S_OK) << "the cached class object alone does not";
    }
}

TEST_F(ModuleExports, LockServerCountsEachLock) {
    ComPtr<IClassFactory> factory = ClassObject(CLSID_DriverEnumerator);
    ASSERT_HRESULT_SUCCEEDED(factory->LockServer(TRUE));
    ASSERT_HRESULT_SUCCEEDED(factory->LockServer(TRUE));
    ASSERT_HRESULT_SUCCEEDED(factory->LockServer(FALSE));
    factory.reset();
    EXPECT_EQ(canUnloadNow_(), S_FALSE);
    ClassObject(CLSID_DriverEnumerator)->LockServer(FALSE);
    EXPECT_EQ(canUnloadNow_(), S_OK);
}

TEST_F(ModuleExports, ClassObjectIsCachedAndUnknownClassesRefused) {
    ComPtr<IClassFactory> first = ClassObject(CLSID_Rs232Driver);
    ComPtr<IClassFactory> second = ClassObject(CLSID_Rs232Driver);
    EXPECT_EQ(first.get(), second.get());

    ComPtr<IUnknown> none;
    EXPECT_EQ(getClassObject_(IID_IRs232Driver, IID_IClassFactory, none.put_void()), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(ClassObject(CLSID_Rs232Driver)->CreateInstance(nullptr, IID_IUnknown, nullptr), E_POINTER);
}

// An outer object that aggregates one of ours and counts its own references.
class Outer final : public IUnknown {
public:
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (::IsEqualIID(iid, IID_IUnknown)) {
            *out = static_cast<IUnknown*>(this);
            AddRef();
            return S_OK;
        }
        return inner ? inner->QueryInterface(iid, out) : E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
    STDMETHODIMP_(ULONG) Release() override { return --refs; }

    ULONG refs = 1;
    ComPtr<IUnknown> inner;
};

TEST_F(ModuleExports, EveryClassCanBeAggregated) {
    for (const auto& c : kClasses) {
        SCOPED_TRACE(testing::Message() << c.progId);
        ComPtr<IClassFactory> factory = ClassObject(*c.clsid);
        Outer outer;
        ComPtr<IUnknown> refused;
        EXPECT_EQ(factory->CreateInstance(&outer, IID_IDispatch, refused.put_void()), CLASS_E_NOAGGREGATION);
        EXPECT_FALSE(refused);

        ASSERT_HRESULT_SUCCEEDED(factory->CreateInstance(&outer, IID_IUnknown, outer.inner.put_void()));
        {
            ComPtr<IDispatch> dual;
            ASSERT_HRESULT_SUCCEEDED(outer.QueryInterface(*c.dual, dual.put_void()));
            EXPECT_EQ(outer.refs, 2u) << "the inner interfaces count on the outer object";
            ComPtr<IUnknown> identity;
            ASSERT_HRESULT_SUCCEEDED(dual->QueryInterface(IID_IUnknown, identity.put_void()));
            EXPECT_EQ(identity.get(), static_cast<IUnknown*>(&outer)) << "identity is the outer object's";
        }
        EXPECT_EQ(outer.refs, 1u);
        outer.inner.reset();
        EXPECT_EQ(canUnloadNow_(), S_FALSE) << "the class object is still held here";
    }
}

// Objects straight from their class objects, so that what is seen is the
// object itself and never an apartment's proxy.
class ClassIdentity : public ModuleExports {
protected:
    template <class T>
    ComPtr<T> Create(const ClassUnderTest& c) {
        ComPtr<T> object;
        ComPtr<IClassFactory> factory = ClassObject(*c.clsid);
        if (factory) factory->CreateInstance(nullptr, __uuidof(T), object.put_void());
        return object;
    }
};

TEST_F(ClassIdentity, AnswersItsInterfacesAndNoOthers) {
    for (const auto& c : kClasses) {
        SCOPED_TRACE(testing::Message() << c.progId);
        ComPtr<IUnknown> object = Create<IUnknown>(c);
        ASSERT_TRUE(object);
        ComPtr<IUnknown> dual, dispatch, identity, errorInfo, classInfo, classInfo2, container, marshal;
        ASSERT_HRESULT_SUCCEEDED(object->QueryInterface(*c.dual, dual.put_void()));
        ASSERT_HRESULT_SUCCEEDED(object->QueryInterface(IID_IDispatch, dispatch.put_void()));
        ASSERT_HRESULT_SUCCEEDED(object->QueryInterface(IID_IUnknown, identity.put_void()));
        EXPECT_EQ(dual.get(), dispatch.get());
        EXPECT_EQ(dual.get(), identity.get());
        EXPECT_HRESULT_SUCCEEDED(object->QueryInterface(IID_ISupportErrorInfo, errorInfo.put_void()));
        EXPECT_HRESULT_SUCCEEDED(object->QueryInterface(IID_IProvideClassInfo, classInfo.put_void()));
        EXPECT_HRESULT_SUCCEEDED(object->QueryInterface(IID_IProvideClassInfo2, classInfo2.put_void()));
        EXPECT_EQ(object->QueryInterface(IID_IConnectionPointContainer, container.put_void()) == S_OK,
                  c.connectionPoints);
        EXPECT_EQ(object->QueryInterface(IID_IMarshal, marshal.put_void()), E_NOINTERFACE);
    }
}

// Every interface the module hands out refuses a null out-pointer before it
// writes through it: identity, class object, aggregate, and the event objects.
TEST_F(ClassIdentity, NullOutPointersAreRefused) {
    for (const auto& c : kClasses) {
        SCOPED_TRACE(testing::Message() << c.progId);
        ComPtr<IUnknown> object = Create<IUnknown>(c);
        ASSERT_TRUE(object);
        Outer outer;
        ComPtr<IClassFactory> factory = ClassObject(*c.clsid);
        ASSERT_HRESULT_SUCCEEDED(factory->CreateInstance(&outer, IID_IUnknown, outer.inner.put_void()));
        std::vector<std::pair<const char*, std::function<HRESULT()>>> calls = {
            {"object", [&] { return object->QueryInterface(IID_IDispatch, nullptr); }},
            {"class object", [&] { return factory->QueryInterface(IID_IClassFactory, nullptr); }},
            {"DllGetClassObject", [&] { return getClassObject_(*c.clsid, IID_IClassFactory, nullptr); }},
            {"aggregate", [&] { return outer.inner->QueryInterface(*c.dual, nullptr); }},
        };
        ComPtr<IConnectionPointContainer> container;
        ComPtr<IConnectionPoint> point;
        ComPtr<IEnumConnectionPoints> points;
        ComPtr<IEnumConnections> connections;
        CONNECTDATA data[2] = {};
        IConnectionPoint* found[2] = {};
        if (c.connectionPoints) {
            ASSERT_HRESULT_SUCCEEDED(object->QueryInterface(IID_IConnectionPointContainer, container.put_void()));
            ASSERT_HRESULT_SUCCEEDED(container->FindConnectionPoint(DIID__IRs232DigitalIoDriverEvents, point.put()));
            ASSERT_HRESULT_SUCCEEDED(container->EnumConnectionPoints(points.put()));
            ASSERT_HRESULT_SUCCEEDED(point->EnumConnections(connections.put()));
            calls.insert(calls.end(), {
                {"connection point", [&] { return point->QueryInterface(IID_IConnectionPoint, nullptr); }},
                {"Next of two without a count", [&] { return connections->Next(2, data, nullptr); }},
                {"Next of two points without a count", [&] { return points->Next(2, found, nullptr); }},
                {"Next into nothing", [&] { return connections->Next(1, nullptr, nullptr); }},
                {"Clone of the connections", [&] { return connections->Clone(nullptr); }},
                {"Clone of the points", [&] { return points->Clone(nullptr); }},
            });
        }
        for (const auto& [what, call] : calls) EXPECT_EQ(call(), E_POINTER) << what;
        outer.inner.reset();
    }
}

TEST_F(ClassIdentity, SupportsErrorInfoForItsOwnInterfaceOnly) {
    for (const auto& c : kClasses) {
        SCOPED_TRACE(testing::Message() << c.progId);
        ComPtr<ISupportErrorInfo> info = Create<ISupportErrorInfo>(c);
        ASSERT_TRUE(info);
        EXPECT_EQ(info->InterfaceSupportsErrorInfo(*c.dual), S_OK);
        EXPECT_EQ(info->InterfaceSupportsErrorInfo(IID_IDispatch), S_FALSE);
        EXPECT_EQ(info->InterfaceSupportsErrorInfo(IID_IUnknown), S_FALSE);
        const IID& another = c.dual == &IID_IUsbDriver ? IID_IRs232Driver : IID_IUsbDriver;
        EXPECT_EQ(info->InterfaceSupportsErrorInfo(another), S_FALSE);
    }
}

TEST_F(ClassIdentity, ClassInfoNamesTheCoclassAndItsEventSource) {
    for (const auto& c : kClasses) {
        SCOPED_TRACE(testing::Message() << c.progId);
        ComPtr<IProvideClassInfo2> info = Create<IProvideClassInfo2>(c);
        ASSERT_TRUE(info);
        ComPtr<ITypeInfo> coclass;
        ASSERT_HRESULT_SUCCEEDED(info->GetClassInfo(coclass.put()));
        TYPEATTR* attributes = nullptr;
        ASSERT_HRESULT_SUCCEEDED(coclass->GetTypeAttr(&attributes));
        EXPECT_TRUE(::IsEqualGUID(attributes->guid, *c.clsid));
        EXPECT_EQ(attributes->typekind, TKIND_COCLASS);
        coclass->ReleaseTypeAttr(attributes);
        EXPECT_EQ(info->GetClassInfo(nullptr), E_POINTER);

        GUID source = IID_IUnknown;
        if (c.connectionPoints) {
            EXPECT_EQ(info->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &source), S_OK);
            EXPECT_TRUE(::IsEqualGUID(source, DIID__IRs232DigitalIoDriverEvents));
            EXPECT_EQ(info->GetGUID(2, &source), E_FAIL);
        } else {
            EXPECT_EQ(info->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &source), E_FAIL);
        }
        EXPECT_TRUE(::IsEqualGUID(source, GUID_NULL));
        EXPECT_EQ(info->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, nullptr), E_POINTER);
    }
}

}  // namespace
}  // namespace tarn::test
