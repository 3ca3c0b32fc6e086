// The module TamselWrapper.dll: its class factory and unload rule, the interfaces of a
// Wrapper, its version block, and what regsvr32 registers and unregisters.
#include <gtest/gtest.h>

#include <utility>

#include "tests/support/default_value_object.h"
#include "tests/support/run_program.h"
#include "tests/support/stale_copy_registration.h"
#include "tests/wrapper/wrapper_test_support.h"

namespace tamsel_test {
namespace {

// The DLL loaded by path: the same module that COM loads for the class.
class WrapperModule : public ::testing::Test {
 protected:
  void SetUp() override {
    module_ = LoadLibraryW(WrapperDllPath().c_str());
    ASSERT_NE(module_, nullptr);
    get_class_object_ = reinterpret_cast<decltype(get_class_object_)>(
        reinterpret_cast<void*>(GetProcAddress(module_, "DllGetClassObject")));
    can_unload_now_ =
        reinterpret_cast<decltype(can_unload_now_)>(reinterpret_cast<void*>(GetProcAddress(module_, "DllCanUnloadNow")));
    ASSERT_NE(get_class_object_, nullptr);
    ASSERT_NE(can_unload_now_, nullptr);
  }
  void TearDown() override { FreeLibrary(module_); }

  HMODULE module_ = nullptr;
  HRESULT(__stdcall* get_class_object_)(REFCLSID, REFIID, void**) = nullptr;
  HRESULT(__stdcall* can_unload_now_)() = nullptr;
};

TEST_F(WrapperModule, ClassObjectIsOnlyForWrapper) {
  const CLSID other = {0xACA97FD1, 0x34EE, 0x4767, {0xAA, 0xE1, 0xC8, 0x14, 0xA6, 0xEA, 0xA6, 0x5A}};
  void* object = reinterpret_cast<void*>(1);
  EXPECT_EQ(get_class_object_(other, IID_IClassFactory, &object), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(object, nullptr);
  EXPECT_EQ(get_class_object_(CLSID_Wrapper, IID_IDispatch, &object), E_NOINTERFACE);
  EXPECT_EQ(object, nullptr);
  EXPECT_EQ(get_class_object_(CLSID_Wrapper, IID_IClassFactory, nullptr), E_POINTER);

  ComPtr<IClassFactory> factory;
  ASSERT_EQ(get_class_object_(CLSID_Wrapper, IID_IClassFactory, factory.ReceiveVoid()), S_OK);
  ComPtr<IUnknown> made;
  EXPECT_EQ(factory->CreateInstance(factory.Get(), IID_IUnknown, made.ReceiveVoid()), CLASS_E_NOAGGREGATION);
  EXPECT_EQ(factory->CreateInstance(nullptr, IID_IPersist, made.ReceiveVoid()), E_NOINTERFACE);
  EXPECT_FALSE(made);
  factory.Reset();
  EXPECT_EQ(can_unload_now_(), S_OK) << "a refused instance stayed alive";
}

TEST_F(WrapperModule, CanUnloadOnlyWithoutObjectsLocksOrFactoryReferences) {
  EXPECT_EQ(can_unload_now_(), S_OK);
  ComPtr<IClassFactory> factory;
  ASSERT_EQ(get_class_object_(CLSID_Wrapper, IID_IClassFactory, factory.ReceiveVoid()), S_OK);
  EXPECT_EQ(can_unload_now_(), S_FALSE) << "a held class factory";
  ComPtr<_Wrapper> first, second;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID__Wrapper, first.ReceiveVoid()), S_OK);
  ASSERT_EQ(factory->CreateInstance(nullptr, IID__Wrapper, second.ReceiveVoid()), S_OK);
  ASSERT_EQ(factory->LockServer(TRUE), S_OK);
  factory.Reset();
  first.Reset();
  EXPECT_EQ(can_unload_now_(), S_FALSE) << "one object and a lock";
  second.Reset();
  EXPECT_EQ(can_unload_now_(), S_FALSE) << "a lock";
  ASSERT_EQ(get_class_object_(CLSID_Wrapper, IID_IClassFactory, factory.ReceiveVoid()), S_OK);
  ASSERT_EQ(factory->LockServer(FALSE), S_OK);
  EXPECT_EQ(can_unload_now_(), S_FALSE);
  factory.Reset();
  EXPECT_EQ(can_unload_now_(), S_OK);

  // Objects made through COM count the same.
  ComPtr<_Wrapper> created = NewWrapper();
  EXPECT_EQ(can_unload_now_(), S_FALSE);
  created.Reset();
  EXPECT_EQ(can_unload_now_(), S_OK);
}

// A key argument whose default value releases the client's only reference to the
// wrapper, as a script that drops its last variable for the object inside a default
// property does. The call still runs the DLL's code afterwards (the text, the outside
// components, the result), so the DLL must not be free to unload until it returns.
class ReleasingKey final : public corvane::test::DefaultValueObject {
 public:
  explicit ReleasingKey(_Wrapper* wrapper, HRESULT(__stdcall* can_unload_now)())
      : DefaultValueObject(L"key"), wrapper_(wrapper), can_unload_now_(can_unload_now) {}
  bool Released() const { return wrapper_ == nullptr; }
  bool UnloadableDuringCall() const { return unloadable_during_call_; }

 private:
  void OnRead() override {
    if (wrapper_ == nullptr) return;
    std::exchange(wrapper_, nullptr)->Release();
    unloadable_during_call_ = can_unload_now_() == S_OK;
  }

  _Wrapper* wrapper_;
  HRESULT(__stdcall* can_unload_now_)();
  bool unloadable_during_call_ = true;
};

TEST_F(WrapperModule, AWrapperReleasedInsideItsOwnCallKeepsTheModuleUntilTheCallReturns) {
  ASSERT_EQ(can_unload_now_(), S_OK) << "no other object of the DLL may be alive";
  for (bool late_bound : {false, true}) {
    SCOPED_TRACE(late_bound ? "late-bound" : "vtable");
    _Wrapper* wrapper = NewWrapper().Detach();  // the client's only reference, given up in the call
    ASSERT_NE(wrapper, nullptr);
    ReleasingKey key_object(wrapper, can_unload_now_);
    VARIANT key = key_object.AsArgument();
    UniqueBstr text_bstr(SysAllocString(L"hello"));
    VARIANT text;
    VariantInit(&text);
    V_VT(&text) = VT_BSTR;
    V_BSTR(&text) = text_bstr.Get();
    UniqueVariant result;
    HRESULT hr;
    if (late_bound) {
      VARIANT arguments[2] = {key, text};  // last first
      DISPPARAMS params = {arguments, nullptr, 2, 0};
      hr = wrapper->Invoke(0x60030001, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, result.Receive(),
                           nullptr, nullptr);
    } else {
      hr = wrapper->TwofishEncrypt(&text, &key, result.Receive());
    }
    ASSERT_TRUE(key_object.Released());
    EXPECT_FALSE(key_object.UnloadableDuringCall()) << "the DLL could be unloaded under the running call";
    EXPECT_EQ(hr, S_OK);
    ASSERT_EQ(V_VT(result.Get()), VT_BSTR);
    EXPECT_STREQ(V_BSTR(result.Get()), L"gGweGBvlesPjjqAgb3+/TQ==");
    EXPECT_EQ(can_unload_now_(), S_OK) << "the wrapper is gone once the call returns";
  }
}

TEST_F(WrapperModule, AWrapperOffersItsInterfacesWithOneIdentity) {
  ComPtr<_Wrapper> wrapper = NewWrapper();
  ComPtr<IUnknown> identity, again;
  ComPtr<IDispatch> dispatch;
  ComPtr<ISupportErrorInfo> errors;
  ComPtr<IUnknown> none;
  ASSERT_EQ(wrapper->QueryInterface(IID_IUnknown, identity.ReceiveVoid()), S_OK);
  ASSERT_EQ(wrapper->QueryInterface(IID_IDispatch, dispatch.ReceiveVoid()), S_OK);
  ASSERT_EQ(wrapper->QueryInterface(IID_ISupportErrorInfo, errors.ReceiveVoid()), S_OK);
  ASSERT_EQ(errors->QueryInterface(IID_IUnknown, again.ReceiveVoid()), S_OK);
  EXPECT_EQ(identity.Get(), again.Get());
  EXPECT_EQ(errors->InterfaceSupportsErrorInfo(IID__Wrapper), S_OK);
  EXPECT_EQ(errors->InterfaceSupportsErrorInfo(IID_IDispatch), S_FALSE);
  EXPECT_EQ(wrapper->QueryInterface(IID_IPersist, none.ReceiveVoid()), E_NOINTERFACE);
  EXPECT_FALSE(none);
  EXPECT_EQ(wrapper->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
}

TEST_F(WrapperModule, VersionBlockMarksTheDllSelfRegistering) {
  const std::wstring path = WrapperDllPath();
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
  ASSERT_GT(size, 0u);
  std::vector<unsigned char> block(size);
  ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, block.data()));
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
  EXPECT_EQ(fixed->dwFileVersionLS, 0u);
  EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
  EXPECT_EQ(fixed->dwProductVersionLS, 0u);
  const struct {
    const wchar_t* name;
    const char* value;
  } strings[] = {{L"FileVersion", "1.00"}, {L"ProductVersion", "1.00"}, {L"OLESelfRegister", ""}};
  for (const auto& s : strings) {
    wchar_t* value = nullptr;
    const std::wstring query = std::wstring(L"\\StringFileInfo\\040904B0\\") + s.name;
    ASSERT_TRUE(VerQueryValueW(block.data(), query.c_str(), reinterpret_cast<void**>(&value), &length)) << Narrow(s.name);
    EXPECT_EQ(Narrow(value), s.value);
  }
}

// Registry values read back as text; "<missing>" when the key or value is not there.
std::string RegText(const wchar_t* key, const wchar_t* name = nullptr) {
  wchar_t value[1024];
  DWORD size = sizeof value;
  if (RegGetValueW(HKEY_CLASSES_ROOT, key, name, RRF_RT_REG_SZ, nullptr, value, &size) != ERROR_SUCCESS) return "<missing>";
  return Narrow(value);
}

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

constexpr wchar_t kClassKey[] = L"CLSID\\{5ACC51B3-3E28-404E-97F3-AB46673B57CF}";
constexpr wchar_t kServerKey[] = L"CLSID\\{5ACC51B3-3E28-404E-97F3-AB46673B57CF}\\InprocServer32";
constexpr wchar_t kTypeLibKey[] = L"TypeLib\\{D52E62B1-6C61-4613-BB4C-F642FEE67EF3}\\3.0";
constexpr wchar_t kInterfaceKey[] = L"Interface\\{641CEA45-F9D1-4CA8-B6F9-B2AF04539BAA}";

void ExpectRegistered() {
  EXPECT_EQ(RegText(L"Tamsel.Wrapper\\CLSID"), "{5ACC51B3-3E28-404E-97F3-AB46673B57CF}");
  EXPECT_EQ(Upper(RegText(kServerKey)), Upper(Narrow(WrapperDllPath())));
  EXPECT_EQ(RegText(kServerKey, L"ThreadingModel"), "Apartment");
  EXPECT_EQ(RegText(L"CLSID\\{5ACC51B3-3E28-404E-97F3-AB46673B57CF}\\ProgID"), "Tamsel.Wrapper");
  EXPECT_EQ(RegText(L"CLSID\\{5ACC51B3-3E28-404E-97F3-AB46673B57CF}\\TypeLib"), "{D52E62B1-6C61-4613-BB4C-F642FEE67EF3}");
  // The type library is registered for the platform of the DLL.
  const wchar_t* platformKey = sizeof(void*) == 8 ? L"TypeLib\\{D52E62B1-6C61-4613-BB4C-F642FEE67EF3}\\3.0\\0\\win64"
                                                  : L"TypeLib\\{D52E62B1-6C61-4613-BB4C-F642FEE67EF3}\\3.0\\0\\win32";
  EXPECT_EQ(Upper(RegText(platformKey)), Upper(Narrow(WrapperDllPath())));
  // _Wrapper is marshalled through its type library.
  EXPECT_EQ(RegText(L"Interface\\{641CEA45-F9D1-4CA8-B6F9-B2AF04539BAA}\\ProxyStubClsid32"),
            "{00020424-0000-0000-C000-000000000046}");
  EXPECT_EQ(RegText(L"Interface\\{641CEA45-F9D1-4CA8-B6F9-B2AF04539BAA}\\TypeLib"), "{D52E62B1-6C61-4613-BB4C-F642FEE67EF3}");
  ComPtr<ITypeLib> lib;
  EXPECT_EQ(LoadRegTypeLib(LIBID_Tamsel, 3, 0, LOCALE_NEUTRAL, lib.Receive()), S_OK);
}

// Runs regsvr32 silently with the given switches on the wrapper; returns its exit code.
DWORD Regsvr32(const std::wstring& switches) {
  const DWORD code = corvane::test::RunProgram(L"regsvr32.exe /s " + switches + L" \"" + WrapperDllPath() + L"\"");
  if (code == corvane::test::kCannotStart) ADD_FAILURE() << "cannot start regsvr32: " << GetLastError();
  return code;
}

TEST(WrapperRegistration, Regsvr32LeftEverythingACreationByProgIdNeeds) {
  ExpectRegistered();
  EXPECT_TRUE(NewWrapper());
}

TEST(WrapperRegistration, UnregisteringRemovesWhatRegisteringWroteAndNoMore) {
  // However this test ends, the wrapper is registered again for the tests after it.
  struct Reregister {
    bool done = false;
    ~Reregister() {
      if (!done) {
        EXPECT_EQ(Regsvr32(L""), 0u);
      }
    }
  } reregister;
  ASSERT_EQ(Regsvr32(L"/u"), 0u);
  for (const wchar_t* key : {L"Tamsel.Wrapper", kClassKey, kTypeLibKey, kInterfaceKey}) {
    EXPECT_EQ(RegText(key), "<missing>") << Narrow(key);
  }
  CLSID clsid;
  EXPECT_NE(CLSIDFromProgID(L"Tamsel.Wrapper", &clsid), S_OK);
  ComPtr<_Wrapper> none;
  EXPECT_EQ(CoCreateInstance(CLSID_Wrapper, nullptr, CLSCTX_INPROC_SERVER, IID__Wrapper, none.ReceiveVoid()),
            REGDB_E_CLASSNOTREG);
  // Unregistering twice is no failure; the stand-ins stay registered.
  EXPECT_EQ(Regsvr32(L"/u"), 0u);
  EXPECT_EQ(RegText(L"Tamsel.clsTwofish\\CLSID"), "{7A15318B-24FB-46B3-9F5C-EE4F175AE6EB}");

  // Registering twice gives the same entries.
  ASSERT_EQ(Regsvr32(L""), 0u);
  ASSERT_EQ(Regsvr32(L""), 0u);
  ExpectRegistered();

  // A ProgID that another class has taken over since is left to that class.
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, L"Tamsel.Wrapper\\CLSID", 0, KEY_SET_VALUE, &key), ERROR_SUCCESS);
  const wchar_t other[] = L"{ACA97FD1-34EE-4767-AAE1-C814A6EAA65A}";
  EXPECT_EQ(RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(other), sizeof other), ERROR_SUCCESS);
  RegCloseKey(key);
  EXPECT_EQ(Regsvr32(L"/u"), 0u);
  EXPECT_EQ(RegText(L"Tamsel.Wrapper\\CLSID"), Narrow(other));
  EXPECT_EQ(RegText(kClassKey), "<missing>");

  ASSERT_EQ(Regsvr32(L""), 0u);
  reregister.done = true;
  ExpectRegistered();
  EXPECT_TRUE(NewWrapper());
}

// Unregistering an old copy after a newer one was registered from another folder removed
// the keys naming the new copy.
TEST(WrapperRegistration, UnregisteringAStaleCopyLeavesTheLiveOne) {
  struct Reregister {
    ~Reregister() {
      EXPECT_EQ(Regsvr32(L""), 0u);
      ExpectRegistered();
    }
  } reregister;
  wchar_t full[MAX_PATH];
  GetFullPathNameW(WrapperDllPath().c_str(), MAX_PATH, full, nullptr);
  corvane::test::ServerUnderTest server;
  server.builtDll = full;
  server.fileName = L"TamselWrapper.dll";
  server.classKey = kClassKey;
  server.progId = L"Tamsel.Wrapper";
  server.typeLibKey = sizeof(void*) == 8 ? L"TypeLib\\{D52E62B1-6C61-4613-BB4C-F642FEE67EF3}\\3.0\\0\\win64"
                                         : L"TypeLib\\{D52E62B1-6C61-4613-BB4C-F642FEE67EF3}\\3.0\\0\\win32";
  server.scriptCall = L"typeof o";
  corvane::test::ExpectStaleCopyLeavesTheLiveRegistration(server, L"C:\\regA", L"C:\\regB");
}

}  // namespace
}  // namespace tamsel_test
