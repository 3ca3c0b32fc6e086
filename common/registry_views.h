// The two registry views of 64-bit Windows, as a COM server's unregistration sees them.
// A class's key under CLSID is kept apart for 32-bit and 64-bit code (the 32-bit one
// under Wow6432Node), while ProgID keys are shared by both views. A server registered
// in both views must therefore leave the shared keys in place when one bitness is
// unregistered, or the other one can no longer be created by ProgID.
#pragma once

#include <windows.h>

namespace corvane {

// True when the other view than this process's own still registers the class: it has
// CLSID\{clsid}\InprocServer32 there. 32-bit Windows, and 32-bit code outside WOW64,
// have one view only.
inline bool OtherRegistryViewRegistersClass(const CLSID& clsid) {
#ifdef _WIN64
  const REGSAM otherView = KEY_WOW64_32KEY;
#else
  BOOL wow64 = FALSE;
  if (!IsWow64Process(GetCurrentProcess(), &wow64) || !wow64) return false;
  const REGSAM otherView = KEY_WOW64_64KEY;
#endif
  wchar_t key[80] = L"CLSID\\";
  constexpr int kPrefix = 6;  // "CLSID\"
  const int written = StringFromGUID2(clsid, key + kPrefix, 40);
  if (written == 0) return false;
  lstrcatW(key, L"\\InprocServer32");
  HKEY server = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key, 0, KEY_QUERY_VALUE | otherView, &server) != ERROR_SUCCESS) return false;
  RegCloseKey(server);
  return true;
}

}  // namespace corvane
