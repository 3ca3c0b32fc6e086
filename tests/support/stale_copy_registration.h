// Unregistering a stale copy of a COM server DLL, through the real regsvr32 and cscript:
// copy A is registered, then copy B of the same DLL in another folder (an upgrade to a
// new folder), then A is unregistered, as old uninstall scripts and administrators
// cleaning up a previous folder do. B's class, ProgID and type library path stay and
// scripts keep creating the object; unregistering B then removes everything.
#pragma once

#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "tests/support/run_program.h"

namespace corvane::test {

struct ServerUnderTest {
  std::wstring builtDll;   // the DLL as built
  std::wstring fileName;   // its file name, for the copies
  std::wstring classKey;   // L"CLSID\\{...}"
  std::wstring progId;     // the version-independent ProgID
  std::wstring typeLibKey;  // L"TypeLib\\{...}\\<version>\\0\\win64" (win32)
  std::wstring scriptCall;  // JScript run on the new object o; its value is printed
};

namespace stale_copy_detail {

// The default value of HKCR\key, or "<missing>".
inline std::wstring Value(const std::wstring& key) {
  std::vector<wchar_t> data(32768);
  DWORD size = static_cast<DWORD>(data.size() * sizeof(wchar_t));
  if (RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, data.data(), &size) !=
      ERROR_SUCCESS)
    return L"<missing>";
  return data.data();
}

inline std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

inline bool SameText(const std::wstring& a, const std::wstring& b) {
  return CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

inline DWORD Regsvr32(const std::wstring& options, const std::wstring& dll) {
  return RunProgram(L"regsvr32.exe /s " + options + L"\"" + dll + L"\"");
}

// The exit code of a JScript that creates the object by ProgID and runs the call on it:
// 0 when both worked.
inline DWORD ScriptCreates(const ServerUnderTest& server, const std::wstring& folder) {
  const std::wstring script = folder + L"\\create.js";
  const std::string text = "try { var o = new ActiveXObject(\"" + Narrow(server.progId) + "\"); WScript.Echo(" +
                           Narrow(server.scriptCall) +
                           "); WScript.Quit(0); } catch (e) { WScript.Echo('error ' + e.number); WScript.Quit(1); }\r\n";
  const HANDLE file = CreateFileW(script.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return kCannotStart;
  DWORD written = 0;
  WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(file);
  return RunProgram(L"cscript.exe //nologo \"" + script + L"\"");
}

}  // namespace stale_copy_detail

// Runs the sequence; folderA and folderB are made (and removed) by it. The caller
// registers the built DLL again afterwards.
inline void ExpectStaleCopyLeavesTheLiveRegistration(const ServerUnderTest& server, const std::wstring& folderA,
                                                     const std::wstring& folderB) {
  using namespace stale_copy_detail;
  CreateDirectoryW(folderA.c_str(), nullptr);
  CreateDirectoryW(folderB.c_str(), nullptr);
  const std::wstring a = folderA + L"\\" + server.fileName, b = folderB + L"\\" + server.fileName;
  ASSERT_TRUE(CopyFileW(server.builtDll.c_str(), a.c_str(), FALSE));
  ASSERT_TRUE(CopyFileW(server.builtDll.c_str(), b.c_str(), FALSE));
  struct Cleanup {
    std::wstring a, b, folderA, folderB;
    ~Cleanup() {
      for (const std::wstring& file : {a, b, folderB + L"\\create.js"}) DeleteFileW(file.c_str());
      RemoveDirectoryW(folderA.c_str());
      RemoveDirectoryW(folderB.c_str());
    }
  } cleanup{a, b, folderA, folderB};

  ASSERT_EQ(Regsvr32(L"", a), 0u);
  ASSERT_EQ(Regsvr32(L"", b), 0u);
  const std::wstring server32 = server.classKey + L"\\InprocServer32";
  ASSERT_TRUE(SameText(Value(server32), b)) << Narrow(Value(server32));

  // The stale copy, spelled in other case: nothing of B's goes, and regsvr32 succeeds.
  std::wstring aOtherCase = a;
  CharLowerW(aOtherCase.data());
  EXPECT_EQ(Regsvr32(L"/u ", aOtherCase), 0u);
  EXPECT_TRUE(SameText(Value(server32), b)) << "the class: " << Narrow(Value(server32));
  EXPECT_TRUE(SameText(Value(server.progId + L"\\CLSID"), server.classKey.substr(6)))
      << "the ProgID: " << Narrow(Value(server.progId + L"\\CLSID"));
  EXPECT_TRUE(SameText(Value(server.typeLibKey), b)) << "the type library: " << Narrow(Value(server.typeLibKey));
  EXPECT_EQ(ScriptCreates(server, folderB), 0u) << "cscript creates the object by ProgID";

  // B itself, spelled in other case: everything goes.
  std::wstring bOtherCase = b;
  CharUpperW(bOtherCase.data());
  EXPECT_EQ(Regsvr32(L"/u ", bOtherCase), 0u);
  for (const std::wstring& key : {server.classKey, server.progId, server.typeLibKey})
    EXPECT_EQ(Value(key), L"<missing>") << Narrow(key);
  EXPECT_NE(ScriptCreates(server, folderB), 0u) << "the object is still created";
}

}  // namespace corvane::test
