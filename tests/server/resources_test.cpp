// The resources that Corvane.dll carries. Run in a process with code page 932, where
// the type library's help strings (stored in that code page) read as written.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "common/com_holders.h"
#include "tests/server/corvane_module.h"

namespace corvane {
namespace {

const WORD kJapanese = MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT);

std::string ResourceBytes(const wchar_t* type, const wchar_t* name) {
  const HMODULE m = test::CorvaneModule::Get().module;
  const HRSRC found = FindResourceExW(m, type, name, kJapanese);
  if (found == nullptr) return "<missing>";
  const char* data = static_cast<const char*>(LockResource(LoadResource(m, found)));
  return std::string(data, SizeofResource(m, found));
}

TEST(ResourcesCp932, RegistryScriptIsTheExactText) {
  const std::string expected =
      "HKCR\r\n"
      "{\r\n"
      "\tCorvane.Crypt.1 = s 'Crypt Class'\r\n"
      "\t{\r\n"
      "\t\tCLSID = s '{BC13CC86-97F9-44AD-9BC6-B202B22FFAD6}'\r\n"
      "\t}\r\n"
      "\tCorvane.Crypt = s 'Crypt Class'\r\n"
      "\t{\r\n"
      "\t\tCLSID = s '{BC13CC86-97F9-44AD-9BC6-B202B22FFAD6}'\r\n"
      "\t\tCurVer = s 'Corvane.Crypt.1'\r\n"
      "\t}\r\n"
      "\tNoRemove CLSID\r\n"
      "\t{\r\n"
      "\t\tForceRemove {BC13CC86-97F9-44AD-9BC6-B202B22FFAD6} = s 'Crypt Class'\r\n"
      "\t\t{\r\n"
      "\t\t\tProgID = s 'Corvane.Crypt.1'\r\n"
      "\t\t\tVersionIndependentProgID = s 'Corvane.Crypt'\r\n"
      "\t\t\tForceRemove 'Programmable'\r\n"
      "\t\t\tInprocServer32 = s '%MODULE%'\r\n"
      "\t\t\t{\r\n"
      "\t\t\t\tval ThreadingModel = s 'Apartment'\r\n"
      "\t\t\t}\r\n"
      "\t\t\t'TypeLib' = s '{8EBFBBCE-0B97-48D7-B26B-E95DB50D5A59}'\r\n"
      "\t\t}\r\n"
      "\t}\r\n"
      "}\r\n";
  EXPECT_EQ(ResourceBytes(L"REGISTRY", MAKEINTRESOURCEW(101)), expected);
}

TEST(ResourcesCp932, ProjectNameString) {
  // String 100 lives in block 100 / 16 + 1 as the fifth counted string.
  const std::string block = ResourceBytes(MAKEINTRESOURCEW(6), MAKEINTRESOURCEW(100 / 16 + 1));
  ASSERT_NE(block, "<missing>");
  const wchar_t* p = reinterpret_cast<const wchar_t*>(block.data());
  for (int i = 0; i < 100 % 16; ++i) p += 1 + *p;
  EXPECT_EQ(std::wstring(p + 1, *p), L"Corvane");
}

std::wstring VersionString(const std::vector<char>& block, const std::wstring& name) {
  void* value = nullptr;
  UINT length = 0;
  const std::wstring path = L"\\StringFileInfo\\041104b0\\" + name;
  if (!VerQueryValueW(block.data(), path.c_str(), &value, &length)) return L"<missing>";
  return std::wstring(static_cast<const wchar_t*>(value), length == 0 ? 0 : length - 1);
}

TEST(ResourcesCp932, VersionBlock) {
  const DWORD size = GetFileVersionInfoSizeW(CORVANE_DLL_PATH, nullptr);
  ASSERT_GT(size, 0u);
  std::vector<char> block(size);
  ASSERT_TRUE(GetFileVersionInfoW(CORVANE_DLL_PATH, 0, size, block.data()));
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
  EXPECT_EQ(fixed->dwFileVersionLS, 0x00010006u);
  EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
  EXPECT_EQ(fixed->dwProductVersionLS, 0x00010006u);
  EXPECT_EQ(fixed->dwFileFlagsMask, 0x3Fu);
  EXPECT_EQ(fixed->dwFileFlags, 0u);
  EXPECT_EQ(fixed->dwFileOS, static_cast<DWORD>(VOS__WINDOWS32));
  EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_DLL));

  DWORD* translation = nullptr;
  ASSERT_TRUE(VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation),
                             &length));
  EXPECT_EQ(*translation, 0x04B00411u);

  const std::pair<const wchar_t*, const wchar_t*> strings[] = {
      {L"Comments",
       L"BlowFish \u30A2\u30EB\u30B4\u30EA\u30BA\u30E0\u3092\u7528\u3044\u305F\u6697\u53F7\u5316/\u5FA9\u53F7\u5316 "
       L"COM \u30B3\u30F3\u30DD\u30FC\u30CD\u30F3\u30C8"},
      {L"FileDescription", L"Corvane Module"},
      {L"FileVersion", L"1, 0, 1, 6"},
      {L"InternalName", L"Corvane"},
      {L"OLESelfRegister", L""},
      {L"OriginalFilename", L"Corvane.DLL"},
      {L"ProductName", L"Corvane Module"},
      {L"ProductVersion", L"1, 0, 1, 6"},
  };
  for (const auto& [name, value] : strings) EXPECT_EQ(VersionString(block, name), value) << std::wstring(name).size();
}

std::wstring HelpString(ITypeInfo* info, MEMBERID member) {
  UniqueBstr help;
  info->GetDocumentation(member, nullptr, help.Receive(), nullptr, nullptr);
  return help ? std::wstring(help.Get(), help.Length()) : L"<none>";
}

TEST(ResourcesCp932, TypeLibraryDescribesCryptAndICrypt) {
  ASSERT_EQ(GetACP(), 932u);
  ComPtr<ITypeLib> library;
  ASSERT_EQ(LoadTypeLibEx(CORVANE_DLL_PATH, REGKIND_NONE, library.Receive()), S_OK);
  TLIBATTR* attributes = nullptr;
  ASSERT_EQ(library->GetLibAttr(&attributes), S_OK);
  EXPECT_TRUE(IsEqualGUID(attributes->guid, LIBID_CORVANELib));
  EXPECT_EQ(attributes->wMajorVerNum, 1);
  EXPECT_EQ(attributes->wMinorVerNum, 0);
  EXPECT_EQ(attributes->lcid, 0u);
  library->ReleaseTLibAttr(attributes);

  UniqueBstr name, help;
  ASSERT_EQ(library->GetDocumentation(-1, name.Receive(), help.Receive(), nullptr, nullptr), S_OK);
  EXPECT_EQ(std::wstring(name.Get()), L"CORVANELib");
  EXPECT_EQ(std::wstring(help.Get()), L"Corvane 1.0 \uFF80\uFF72\uFF8C\uFF9F \uFF97\uFF72\uFF8C\uFF9E\uFF97\uFF98");

  ASSERT_EQ(library->GetTypeInfoCount(), 2u);
  ComPtr<ITypeInfo> coclass, icrypt;
  ASSERT_EQ(library->GetTypeInfo(0, coclass.Receive()), S_OK);
  ASSERT_EQ(library->GetTypeInfo(1, icrypt.Receive()), S_OK);
  EXPECT_EQ(HelpString(coclass.Get(), MEMBERID_NIL), L"Crypt Class");
  EXPECT_EQ(HelpString(icrypt.Get(), MEMBERID_NIL), L"ICrypt Interface");

  TYPEATTR* type = nullptr;
  ASSERT_EQ(coclass->GetTypeAttr(&type), S_OK);
  EXPECT_EQ(type->typekind, TKIND_COCLASS);
  EXPECT_TRUE(IsEqualGUID(type->guid, CLSID_Crypt));
  EXPECT_TRUE(type->wTypeFlags & TYPEFLAG_FCANCREATE);
  coclass->ReleaseTypeAttr(type);
  INT implFlags = 0;
  EXPECT_EQ(coclass->GetImplTypeFlags(0, &implFlags), S_OK);
  EXPECT_TRUE(implFlags & IMPLTYPEFLAG_FDEFAULT);

  ASSERT_EQ(icrypt->GetTypeAttr(&type), S_OK);
  EXPECT_TRUE(IsEqualGUID(type->guid, IID_ICrypt));
  EXPECT_EQ(type->typekind, TKIND_DISPATCH);
  EXPECT_TRUE(type->wTypeFlags & TYPEFLAG_FDUAL);
  icrypt->ReleaseTypeAttr(type);
  // The vtable view of the dual interface: automation-compatible, six methods after Invoke.
  HREFTYPE vtableView = 0;
  ComPtr<ITypeInfo> vtable;
  ASSERT_EQ(icrypt->GetRefTypeOfImplType(static_cast<UINT>(-1), &vtableView), S_OK);
  ASSERT_EQ(icrypt->GetRefTypeInfo(vtableView, vtable.Receive()), S_OK);
  ASSERT_EQ(vtable->GetTypeAttr(&type), S_OK);
  EXPECT_EQ(type->typekind, TKIND_INTERFACE);
  EXPECT_TRUE(type->wTypeFlags & TYPEFLAG_FOLEAUTOMATION);
  EXPECT_EQ(type->cFuncs, 6);
  EXPECT_EQ(type->cbSizeVft, 13 * sizeof(void*));
  vtable->ReleaseTypeAttr(type);

  const wchar_t* methods[] = {L"SetKey", L"IsError", L"enCrypt", L"deCrypt", L"FileEnCrypt", L"FileDeCrypt"};
  for (MEMBERID id = 1; id <= 6; ++id)
    EXPECT_EQ(HelpString(icrypt.Get(), id), std::wstring(L"\uFF92\uFF7F\uFF6F\uFF84\uFF9E ") + methods[id - 1]);
}

}  // namespace
}  // namespace corvane
