// The module's exports, class object, lock count, instances and aggregation, through
// the DLL loaded by path.
#include <gtest/gtest.h>

#include "common/com_holders.h"
#include "tests/server/corvane_module.h"

namespace corvane {
namespace {

using test::CorvaneModule;

class CorvaneServer : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(dll.module, nullptr) << "cannot load " << CORVANE_DLL_PATH;
    ASSERT_EQ(dll.DllCanUnloadNow(), S_OK) << "an earlier test left the module locked";
  }
  void TearDown() override { EXPECT_EQ(dll.DllCanUnloadNow(), S_OK) << "this test left the module locked"; }

  static ULONG RefCount(IUnknown* p) {
    p->AddRef();
    return p->Release();
  }

  const CorvaneModule& dll = CorvaneModule::Get();
  test::ComApartment apartment_;
};

// A controlling unknown that owns an aggregated Crypt and counts its own references.
class Outer : public IUnknown {
 public:
  STDMETHOD(QueryInterface)(REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown)) {
      *object = static_cast<IUnknown*>(this);
      AddRef();
      return S_OK;
    }
    if (inner != nullptr) return inner->QueryInterface(iid, object);
    *object = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHOD_(ULONG, AddRef)() override { return ++count; }
  STDMETHOD_(ULONG, Release)() override { return --count; }

  ULONG count = 1;
  IUnknown* inner = nullptr;  // the aggregate's own (non-delegating) unknown
};

TEST_F(CorvaneServer, ClassObjectHoldsTheModuleOnlyWhileAClientHoldsIt) {
  ComPtr<IClassFactory> first, second;
  ASSERT_EQ(dll.DllGetClassObject(CLSID_Crypt, IID_IClassFactory, first.ReceiveVoid()), S_OK);
  EXPECT_EQ(dll.DllCanUnloadNow(), S_FALSE);
  ASSERT_EQ(dll.DllGetClassObject(CLSID_Crypt, IID_IUnknown, second.ReceiveVoid()), S_OK);
  EXPECT_EQ(static_cast<IUnknown*>(first.Get()), second.Get()) << "the class object is cached";
  second.Reset();
  EXPECT_EQ(dll.DllCanUnloadNow(), S_FALSE);
  first.Reset();
  EXPECT_EQ(dll.DllCanUnloadNow(), S_OK) << "the class table's own reference does not lock the module";
}

TEST_F(CorvaneServer, ClassObjectRequestsThatFail) {
  void* object = reinterpret_cast<void*>(1);
  EXPECT_EQ(dll.DllGetClassObject(CLSID_Crypt, IID_IDispatch, &object), E_NOINTERFACE);
  EXPECT_EQ(object, nullptr);
  object = reinterpret_cast<void*>(1);
  EXPECT_EQ(dll.DllGetClassObject(IID_ICrypt, IID_IClassFactory, &object), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(object, nullptr) << "the out-pointer is null after every failure";
  EXPECT_EQ(dll.DllGetClassObject(CLSID_Crypt, IID_IClassFactory, nullptr), E_POINTER);
}

TEST_F(CorvaneServer, LockServerHoldsTheModule) {
  ComPtr<IClassFactory> factory(dll.ClassFactory());
  ASSERT_TRUE(factory);
  EXPECT_EQ(factory->LockServer(TRUE), S_OK);
  factory.Reset();
  EXPECT_EQ(dll.DllCanUnloadNow(), S_FALSE);
  factory.Reset(dll.ClassFactory());
  EXPECT_EQ(factory->LockServer(FALSE), S_OK);
  factory.Reset();
  EXPECT_EQ(dll.DllCanUnloadNow(), S_OK);
}

TEST_F(CorvaneServer, AnInstanceHoldsTheModuleUntilItsLastRelease) {
  ComPtr<ICrypt> crypt(dll.NewCrypt());
  ASSERT_TRUE(crypt);
  EXPECT_EQ(dll.DllCanUnloadNow(), S_FALSE);
  EXPECT_EQ(RefCount(crypt.Get()), 1u);
  LONG status = 99;
  EXPECT_EQ(crypt->IsError(&status), S_OK);
  EXPECT_EQ(status, 0);
  crypt.Reset();
  EXPECT_EQ(dll.DllCanUnloadNow(), S_OK);
}

TEST_F(CorvaneServer, QueryInterfaceGivesOnePointerAndCountsEachReference) {
  ComPtr<ICrypt> crypt(dll.NewCrypt());
  ASSERT_TRUE(crypt);
  const IID* iids[] = {&IID_IUnknown, &IID_ICrypt, &IID_IDispatch};
  ULONG expected = 1;
  for (const IID* iid : iids) {
    void* p = nullptr;
    ASSERT_EQ(crypt->QueryInterface(*iid, &p), S_OK);
    EXPECT_EQ(p, static_cast<void*>(crypt.Get()));
    EXPECT_EQ(RefCount(crypt.Get()), ++expected);
  }
  void* p = reinterpret_cast<void*>(1);
  EXPECT_EQ(crypt->QueryInterface(IID_IClassFactory, &p), E_NOINTERFACE);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(crypt->QueryInterface(IID_ICrypt, nullptr), E_POINTER);
  for (; expected > 1; --expected) crypt->Release();
}

TEST_F(CorvaneServer, CreateInstanceFailures) {
  ComPtr<IClassFactory> factory(dll.ClassFactory());
  ASSERT_TRUE(factory);
  Outer outer;
  struct Case {
    IUnknown* outer;
    const IID* iid;
    HRESULT expected;
  } cases[] = {
      {nullptr, &IID_IClassFactory, E_NOINTERFACE},
      {&outer, &IID_IDispatch, CLASS_E_NOAGGREGATION},
      {&outer, &IID_ICrypt, CLASS_E_NOAGGREGATION},
  };
  for (const Case& c : cases) {
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(factory->CreateInstance(c.outer, *c.iid, &object), c.expected);
    EXPECT_EQ(object, nullptr);
    factory.Reset();
    EXPECT_EQ(dll.DllCanUnloadNow(), S_OK) << "nothing is left alive";
    factory.Reset(dll.ClassFactory());
  }
  EXPECT_EQ(factory->CreateInstance(nullptr, IID_ICrypt, nullptr), E_POINTER);
  EXPECT_EQ(outer.count, 1u);
}

TEST_F(CorvaneServer, AggregationDelegatesToTheControllingUnknown) {
  Outer outer;
  {
    ComPtr<IClassFactory> factory(dll.ClassFactory());
    ASSERT_EQ(factory->CreateInstance(&outer, IID_IUnknown, reinterpret_cast<void**>(&outer.inner)), S_OK);
  }
  ASSERT_NE(outer.inner, nullptr);
  EXPECT_EQ(RefCount(outer.inner), 1u) << "the aggregate's own unknown starts at one reference";
  EXPECT_EQ(dll.DllCanUnloadNow(), S_FALSE);

  // Interfaces asked of the aggregate add their reference to the controlling unknown.
  ComPtr<ICrypt> crypt;
  ASSERT_EQ(outer.inner->QueryInterface(IID_ICrypt, crypt.ReceiveVoid()), S_OK);
  EXPECT_EQ(outer.count, 2u);
  EXPECT_EQ(RefCount(outer.inner), 1u);
  EXPECT_NE(static_cast<void*>(crypt.Get()), static_cast<void*>(outer.inner));

  // The inner part's IUnknown is the outer object's.
  void* unknown = nullptr;
  ASSERT_EQ(crypt->QueryInterface(IID_IUnknown, &unknown), S_OK);
  EXPECT_EQ(unknown, static_cast<void*>(static_cast<IUnknown*>(&outer)));
  EXPECT_EQ(outer.count, 3u);
  outer.Release();
  // And it works as a Crypt.
  LONG status = 7;
  EXPECT_EQ(crypt->IsError(&status), S_OK);
  EXPECT_EQ(status, 0);
  crypt.Reset();
  EXPECT_EQ(outer.count, 1u);

  EXPECT_EQ(outer.inner->Release(), 0u);
  outer.inner = nullptr;
  EXPECT_EQ(dll.DllCanUnloadNow(), S_OK);
}

}  // namespace
}  // namespace corvane
