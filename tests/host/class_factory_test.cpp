// The module's class objects: DllGetClassObject, the class factory,
// aggregation, LockServer and DllCanUnloadNow, through kestrel.ax's exports.
#include <dshow.h>
#include <gtest/gtest.h>

#include "framework/com_ptr.h"
#include "host/host_test_util.h"

namespace kestrel::test {
namespace {

constexpr CLSID kUnknownClass = {0x12345678, 0x1234, 0x1234, {1, 2, 3, 4, 5, 6, 7, 8}};

class ClassFactory : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(Kestrel().module, nullptr);
    ASSERT_NE(Kestrel().GetClassObject, nullptr);
    ASSERT_NE(Kestrel().CanUnloadNow, nullptr);
    ASSERT_HR(S_OK, Kestrel().CanUnloadNow());
  }
  // Nothing of the module may be left alive by a test.
  void TearDown() override { EXPECT_HR(S_OK, Kestrel().CanUnloadNow()); }

  ComPtr<IClassFactory> Factory(const CLSID& clsid) {
    ComPtr<IClassFactory> factory;
    EXPECT_HR(S_OK, Kestrel().GetClassObject(clsid, IID_IClassFactory, factory.ReleaseAndGetVoidAddress()));
    return factory;
  }
};

TEST_F(ClassFactory, InterfaceIsCheckedBeforeTheClass) {
  void* out = reinterpret_cast<void*>(1);
  EXPECT_HR(E_NOINTERFACE, Kestrel().GetClassObject(kClsidKestrel, IID_IBaseFilter, &out));
  EXPECT_EQ(out, nullptr);
  out = reinterpret_cast<void*>(1);
  EXPECT_HR(E_NOINTERFACE, Kestrel().GetClassObject(kUnknownClass, IID_IBaseFilter, &out));
  EXPECT_EQ(out, nullptr);
  out = reinterpret_cast<void*>(1);
  EXPECT_HR(CLASS_E_CLASSNOTAVAILABLE, Kestrel().GetClassObject(kUnknownClass, IID_IClassFactory, &out));
  EXPECT_EQ(out, nullptr);

  // Both classes of the table are served, as IClassFactory or IUnknown.
  ComPtr<IUnknown> unknown;
  EXPECT_HR(S_OK, Kestrel().GetClassObject(kClsidKestrel, IID_IUnknown, unknown.ReleaseAndGetVoidAddress()));
  EXPECT_TRUE(unknown);
  EXPECT_HR(S_OK, Kestrel().GetClassObject(kClsidKestrelProp, IID_IUnknown, unknown.ReleaseAndGetVoidAddress()));
  EXPECT_TRUE(unknown);
}

TEST_F(ClassFactory, EachCallGivesADistinctFactoryWithItsOwnCount) {
  ComPtr<IClassFactory> first = Factory(kClsidKestrel);
  ComPtr<IClassFactory> second = Factory(kClsidKestrel);
  ASSERT_TRUE(first && second);
  EXPECT_NE(first.Get(), second.Get());
  EXPECT_EQ(RefCount(first.Get()), 1u);

  void* out = nullptr;
  EXPECT_HR(S_OK, first->QueryInterface(IID_IUnknown, &out));
  EXPECT_EQ(out, static_cast<IUnknown*>(first.Get()));
  EXPECT_EQ(RefCount(first.Get()), 2u);
  first->Release();
  out = reinterpret_cast<void*>(1);
  EXPECT_HR(E_NOINTERFACE, first->QueryInterface(IID_IBaseFilter, &out));
  EXPECT_EQ(out, nullptr);
  EXPECT_HR(E_POINTER, first->QueryInterface(IID_IClassFactory, nullptr));

  // A factory the host still holds keeps the module loaded.
  EXPECT_HR(S_FALSE, Kestrel().CanUnloadNow());
  first.Reset();
  EXPECT_HR(S_FALSE, Kestrel().CanUnloadNow());
  second.Reset();
  EXPECT_HR(S_OK, Kestrel().CanUnloadNow());
}

TEST_F(ClassFactory, CreateInstanceGivesTheFilterOrDestroysWhatItCannotHandOut) {
  ComPtr<IClassFactory> factory = Factory(kClsidKestrel);
  ASSERT_TRUE(factory);
  EXPECT_HR(E_POINTER, factory->CreateInstance(nullptr, IID_IBaseFilter, nullptr));

  ComPtr<IBaseFilter> filter;
  ASSERT_HR(S_OK, factory->CreateInstance(nullptr, IID_IBaseFilter, filter.ReleaseAndGetVoidAddress()));
  EXPECT_EQ(RefCount(filter.Get()), 1u);
  CLSID clsid = {};
  EXPECT_HR(S_OK, filter->GetClassID(&clsid));
  EXPECT_EQ(clsid, kClsidKestrel);
  filter.Reset();

  // The filter has no IClassFactory: the new object is destroyed at once.
  void* out = reinterpret_cast<void*>(1);
  EXPECT_HR(E_NOINTERFACE, factory->CreateInstance(nullptr, IID_IClassFactory, &out));
  EXPECT_EQ(out, nullptr);
  EXPECT_HR(S_FALSE, Kestrel().CanUnloadNow());  // the factory alone
  factory.Reset();
  EXPECT_HR(S_OK, Kestrel().CanUnloadNow());  // and nothing else was left
}

TEST_F(ClassFactory, AggregatedFilterPassesItsUnknownCallsToTheOuterObject) {
  ComPtr<IClassFactory> factory = Factory(kClsidKestrel);
  ASSERT_TRUE(factory);
  CountingOuter outer;
  void* out = reinterpret_cast<void*>(1);
  EXPECT_HR(E_NOINTERFACE, factory->CreateInstance(&outer, IID_IBaseFilter, &out));
  EXPECT_EQ(out, nullptr);

  IUnknown* inner = nullptr;
  ASSERT_HR(S_OK, factory->CreateInstance(&outer, IID_IUnknown, reinterpret_cast<void**>(&inner)));
  EXPECT_EQ(outer.refs, 1u);  // the inner object never holds its owner
  IBaseFilter* filter = nullptr;
  ASSERT_HR(S_OK, inner->QueryInterface(IID_IBaseFilter, reinterpret_cast<void**>(&filter)));
  EXPECT_EQ(outer.refs, 2u);  // the reference went to the owner

  void* persist = reinterpret_cast<void*>(1);
  EXPECT_HR(E_NOINTERFACE, filter->QueryInterface(IID_IPersist, &persist));
  EXPECT_EQ(outer.queries, 1);
  filter->AddRef();
  EXPECT_EQ(outer.refs, 3u);
  filter->Release();
  filter->Release();
  EXPECT_EQ(outer.refs, 1u);

  // The inner unknown keeps its own count and ends the object.
  EXPECT_EQ(inner->AddRef(), 2u);
  EXPECT_EQ(inner->Release(), 1u);
  EXPECT_EQ(inner->Release(), 0u);
  factory.Reset();
  EXPECT_HR(S_OK, Kestrel().CanUnloadNow());
}

TEST_F(ClassFactory, LockServerKeepsTheModuleWithoutObjects) {
  ComPtr<IClassFactory> factory = Factory(kClsidKestrel);
  ASSERT_TRUE(factory);
  EXPECT_HR(S_OK, factory->LockServer(TRUE));
  factory.Reset();
  EXPECT_HR(S_FALSE, Kestrel().CanUnloadNow());  // no object, one lock

  factory = Factory(kClsidKestrelProp);
  ASSERT_TRUE(factory);
  EXPECT_HR(S_OK, factory->LockServer(TRUE));
  EXPECT_HR(S_OK, factory->LockServer(FALSE));
  factory.Reset();
  EXPECT_HR(S_FALSE, Kestrel().CanUnloadNow());  // the first lock is still held

  factory = Factory(kClsidKestrel);
  EXPECT_HR(S_OK, factory->LockServer(FALSE));
  factory.Reset();
  EXPECT_HR(S_OK, Kestrel().CanUnloadNow());
}

}  // namespace
}  // namespace kestrel::test
