// Dispatch while the type library is not registered, then again after it is registered,
// without reloading the module. Runs in a process of its own: the holder must not have
// loaded the type information before.
#include <gtest/gtest.h>

#include "common/com_holders.h"
#include "tests/server/corvane_module.h"

namespace corvane {
namespace {

TEST(TypeLibraryReload, DispatchFailsUntilTheLibraryIsRegisteredAgain) {
  test::ComApartment apartment;
  const test::CorvaneModule& dll = test::CorvaneModule::Get();
#ifdef _WIN64
  const SYSKIND kind = SYS_WIN64;
#else
  const SYSKIND kind = SYS_WIN32;
#endif
  ASSERT_EQ(UnRegisterTypeLib(LIBID_CORVANELib, 1, 0, 0, kind), S_OK);
  ComPtr<ICrypt> crypt(dll.NewCrypt());
  ASSERT_TRUE(crypt) << "creation does not need the type library";

  LPOLESTR name = const_cast<LPOLESTR>(L"SetKey");
  DISPID dispid = 0;
  for (int attempt = 0; attempt < 3; ++attempt) {
    const HRESULT failure = crypt->GetIDsOfNames(IID_NULL, &name, 1, 0, &dispid);
    EXPECT_TRUE(FAILED(failure));
    ITypeInfo* info = reinterpret_cast<ITypeInfo*>(1);
    EXPECT_EQ(crypt->GetTypeInfo(0, 0, &info), failure);
    EXPECT_EQ(info, nullptr);
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    VARIANT result;
    VariantInit(&result);
    EXPECT_EQ(crypt->Invoke(2, IID_NULL, 0, DISPATCH_METHOD, &none, &result, nullptr, nullptr), failure);
  }
  // The object itself works without the type library.
  LONG status = 5;
  EXPECT_EQ(crypt->IsError(&status), S_OK);

  ASSERT_EQ(dll.DllRegisterServer(), S_OK);
  EXPECT_EQ(crypt->GetIDsOfNames(IID_NULL, &name, 1, 0, &dispid), S_OK);
  EXPECT_EQ(dispid, 1);
  ComPtr<ITypeInfo> info;
  EXPECT_EQ(crypt->GetTypeInfo(0, 0, info.Receive()), S_OK);
}

}  // namespace
}  // namespace corvane
