// Registration through the real regsvr32, read back from the registry. Runs as the
// setup of every test that needs the server registered, and leaves it registered.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "tests/server/corvane_module.h"
#include "tests/support/run_program.h"
#include "tests/support/stale_copy_registration.h"

namespace corvane {
namespace {

const wchar_t kClassKey[] = L"CLSID\\{BC13CC86-97F9-44AD-9BC6-B202B22FFAD6}";
const wchar_t kTypeLibKey[] = L"TypeLib\\{8EBFBBCE-0B97-48D7-B26B-E95DB50D5A59}";

// regsvr32's exit code.
DWORD RunRegsvr32(const std::wstring& options) {
  return test::RunProgram(L"regsvr32.exe " + options + L" \"" + CORVANE_DLL_PATH + L"\"");
}

bool KeyExists(const std::wstring& key) {
  HKEY h = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS) return false;
  RegCloseKey(h);
  return true;
}

// A string value under HKEY_CLASSES_ROOT, or "<missing>".
std::wstring Value(const std::wstring& key, const wchar_t* name = nullptr) {
  wchar_t data[1024];
  DWORD size = sizeof data;
  if (RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), name, RRF_RT_REG_SZ, nullptr, data, &size) != ERROR_SUCCESS)
    return L"<missing>";
  return data;
}

std::wstring FullPathOfTheDll() {
  wchar_t full[MAX_PATH];
  GetFullPathNameW(CORVANE_DLL_PATH, MAX_PATH, full, nullptr);
  return full;
}

TEST(Registration, Regsvr32RegistersUnregistersAndRegistersAgain) {
  ASSERT_EQ(RunRegsvr32(L"/s"), 0u);
  EXPECT_EQ(Value(L"Corvane.Crypt.1"), L"Crypt Class");
  EXPECT_EQ(Value(L"Corvane.Crypt.1\\CLSID"), L"{BC13CC86-97F9-44AD-9BC6-B202B22FFAD6}");
  EXPECT_EQ(Value(L"Corvane.Crypt"), L"Crypt Class");
  EXPECT_EQ(Value(L"Corvane.Crypt\\CLSID"), L"{BC13CC86-97F9-44AD-9BC6-B202B22FFAD6}");
  EXPECT_EQ(Value(L"Corvane.Crypt\\CurVer"), L"Corvane.Crypt.1");
  const std::wstring clsid = kClassKey;
  EXPECT_EQ(Value(clsid), L"Crypt Class");
  EXPECT_EQ(Value(clsid + L"\\ProgID"), L"Corvane.Crypt.1");
  EXPECT_EQ(Value(clsid + L"\\VersionIndependentProgID"), L"Corvane.Crypt");
  EXPECT_TRUE(KeyExists(clsid + L"\\Programmable"));
  EXPECT_EQ(_wcsicmp(Value(clsid + L"\\InprocServer32").c_str(), FullPathOfTheDll().c_str()), 0)
      << "InprocServer32 is the module's full path";
  EXPECT_EQ(Value(clsid + L"\\InprocServer32", L"ThreadingModel"), L"Apartment");
  EXPECT_EQ(Value(clsid + L"\\TypeLib"), L"{8EBFBBCE-0B97-48D7-B26B-E95DB50D5A59}");
  EXPECT_TRUE(KeyExists(std::wstring(kTypeLibKey) + L"\\1.0\\0"));

  ASSERT_EQ(RunRegsvr32(L"/u /s"), 0u);
  for (const std::wstring& gone : {std::wstring(L"Corvane.Crypt"), std::wstring(L"Corvane.Crypt.1"), clsid,
                                   std::wstring(kTypeLibKey) + L"\\1.0"})
    EXPECT_FALSE(KeyExists(gone)) << std::string(gone.begin(), gone.end());
  EXPECT_TRUE(KeyExists(L"CLSID")) << "the CLSID key itself stays";

  ASSERT_EQ(RunRegsvr32(L"/s"), 0u);
  EXPECT_EQ(Value(L"Corvane.Crypt\\CurVer"), L"Corvane.Crypt.1");
}

// Uninstallers may unregister twice: the second time succeeds and removes nothing
// more, neither the CLSID key nor another class beside this one.
TEST(Registration, UnregisteringTwiceSucceedsAndRemovesNothingMore) {
  struct Reregister {
    ~Reregister() { EXPECT_EQ(RunRegsvr32(L"/s"), 0u); }
  } reregister;
  const std::wstring neighbour = L"CLSID\\{0D6A4F1E-2E0B-4C51-9D39-6C9F4B7A1E13}";
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, neighbour.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(key);

  ASSERT_EQ(RunRegsvr32(L"/u /s"), 0u);
  EXPECT_FALSE(KeyExists(kClassKey));
  EXPECT_FALSE(KeyExists(std::wstring(kTypeLibKey) + L"\\1.0"));
  EXPECT_EQ(RunRegsvr32(L"/u /s"), 0u) << "a second unregistration fails";
  EXPECT_TRUE(KeyExists(L"CLSID"));
  EXPECT_TRUE(KeyExists(neighbour));
  EXPECT_FALSE(KeyExists(kClassKey));
  EXPECT_FALSE(KeyExists(L"Corvane.Crypt"));
  RegDeleteTreeW(HKEY_CLASSES_ROOT, neighbour.c_str());
}

// Unregistering an old copy after a newer one was registered from another folder left
// every script with 800A01AD: the class, ProgID and type library keys naming the new
// copy were removed.
TEST(Registration, UnregisteringAStaleCopyLeavesTheLiveOne) {
  struct Reregister {
    ~Reregister() { EXPECT_EQ(RunRegsvr32(L"/s"), 0u); }
  } reregister;
  test::ServerUnderTest server;
  server.builtDll = FullPathOfTheDll();
  server.fileName = L"Corvane.dll";
  server.classKey = kClassKey;
  server.progId = L"Corvane.Crypt";
  server.typeLibKey = std::wstring(kTypeLibKey) + (sizeof(void*) == 8 ? L"\\1.0\\0\\win64" : L"\\1.0\\0\\win32");
  server.scriptCall = L"o.IsError()";
  test::ExpectStaleCopyLeavesTheLiveRegistration(server, L"C:\\regA", L"C:\\regB");
  EXPECT_FALSE(KeyExists(L"Corvane.Crypt.1"));
}

TEST(Registration, ObjectsAreCreatedByProgId) {
  test::ComApartment apartment;
  CLSID clsid;
  ASSERT_EQ(CLSIDFromProgID(L"Corvane.Crypt", &clsid), S_OK);
  EXPECT_TRUE(IsEqualCLSID(clsid, CLSID_Crypt));
  ICrypt* crypt = nullptr;
  ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_ICrypt, reinterpret_cast<void**>(&crypt)), S_OK);
  LONG status = 1;
  EXPECT_EQ(crypt->IsError(&status), S_OK);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(crypt->Release(), 0u);
}

}  // namespace
}  // namespace corvane
