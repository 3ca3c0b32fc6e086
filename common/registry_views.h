// The two registry views of 64-bit Windows, as a COM server's unregistration sees them.
// A class's key under CLSID is kept apart for 32-bit and 64-bit code (the 32-bit one
// under Wow6432Node), while ProgID keys are shared by both views. A server registered
// in both views must therefore leave the shared keys in place when one bitness is
// unregistered, or the other one can no longer be created by ProgID. A type library's
// version key is shared as well; only its win32 and win64 keys belong to one bitness.
#pragma once

#include <windows.h>
#include <oleauto.h>

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

// True while HKCR\TypeLib\{library}\<major>.<minor>\<lcid>\win32 (or win64) exists, the
// numbers in hex as RegisterTypeLib writes them: the registration of this platform's
// library. The version key alone stays while the DLL of the other bitness is registered.
inline bool TypeLibraryPlatformRegistered(const GUID& library, WORD major, WORD minor, LCID lcid, SYSKIND kind) {
  wchar_t key[80] = L"TypeLib\\";
  if (StringFromGUID2(library, key + 8, 40) == 0) return false;
  // "\<major>.<minor>" in hexadecimal digits without leading zeros.
  wchar_t* at = key + lstrlenW(key);
  const auto appendHex = [&at](unsigned value) {
    wchar_t digits[2 * sizeof value];
    int n = 0;
    do {
      digits[n++] = L"0123456789abcdef"[value & 15];
      value >>= 4;
    } while (value != 0);
    while (n > 0) *at++ = digits[--n];
  };
  *at++ = L'\\';
  appendHex(major);
  *at++ = L'.';
  appendHex(minor);
  *at++ = L'\\';
  appendHex(lcid);
  for (const wchar_t* platform = kind == SYS_WIN64 ? L"\\win64" : L"\\win32"; *platform != 0;)
    *at++ = *platform++;
  *at = L'\0';
  HKEY version = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key, 0, KEY_READ, &version) != ERROR_SUCCESS) return false;
  RegCloseKey(version);
  return true;
}

}  // namespace corvane
