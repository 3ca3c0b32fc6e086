// The two registry views of 64-bit Windows, as a COM server's unregistration sees them.
// A class's key under CLSID is kept apart for 32-bit and 64-bit code (the 32-bit one
// under Wow6432Node), while ProgID keys are shared by both views. A server registered
// in both views must therefore leave the shared keys in place when one bitness is
// unregistered, or the other one can no longer be created by ProgID. A type library's
// version key is shared as well; only its win32 and win64 keys belong to one bitness.
//
// Within one view, the keys belong to the DLL they name: after C:\A\x.dll and then
// C:\B\x.dll were registered, unregistering the stale C:\A copy must leave B's class,
// ProgIDs and type library path in place. RegisteredServer tells the two apart.
#pragma once

#include <windows.h>
#include <oleauto.h>

namespace corvane {

namespace registry_detail {

constexpr DWORD kPathCapacity = 32768;  // the longest path Windows has, with its terminator

// A path-sized block of the process heap, freed at scope end (the DLLs link no runtime).
class PathBuffer {
 public:
  PathBuffer() : text_(static_cast<wchar_t*>(HeapAlloc(GetProcessHeap(), 0, kPathCapacity * sizeof(wchar_t)))) {}
  ~PathBuffer() {
    if (text_ != nullptr) HeapFree(GetProcessHeap(), 0, text_);
  }
  PathBuffer(const PathBuffer&) = delete;
  PathBuffer& operator=(const PathBuffer&) = delete;
  wchar_t* Get() const { return text_; }

 private:
  wchar_t* text_;
};

// The path as Windows compares it: surrounding quotes removed, made full
// (GetFullPathName), short names made long where the file exists. False when it cannot be.
inline bool NormalisePath(const wchar_t* path, wchar_t* out, wchar_t* scratch) {
  int length = lstrlenW(path);
  if (length >= 2 && path[0] == L'"' && path[length - 1] == L'"') {
    lstrcpynW(out, path + 1, length - 1);  // copies length - 2 characters and a terminator
    path = out;
  }
  const DWORD full = GetFullPathNameW(path, kPathCapacity, scratch, nullptr);
  if (full == 0 || full >= kPathCapacity) return false;
  const DWORD longForm = GetLongPathNameW(scratch, out, kPathCapacity);
  if (longForm == 0 || longForm >= kPathCapacity) lstrcpyW(out, scratch);  // no such file: as it is
  return true;
}

// Whether two paths name the same file by Windows' rules: equal, ignoring case, once both
// are normalised.
inline bool SamePath(const wchar_t* a, const wchar_t* b, wchar_t* scratch1, wchar_t* scratch2, wchar_t* scratch3) {
  if (!NormalisePath(a, scratch1, scratch3) || !NormalisePath(b, scratch2, scratch3)) return false;
  return CompareStringOrdinal(scratch1, -1, scratch2, -1, TRUE) == CSTR_EQUAL;
}

}  // namespace registry_detail

// Who a registry value that holds a server's path names, in this process's view.
enum class RegisteredServer {
  kNone,        // no such key or value: nothing registered names any file
  kThisModule,  // this module's own file
  kOtherFile,   // another file (another copy of this DLL, say)
};

// The default value of HKCR\key compared with modulePath (this DLL's full path). With
// digitSuffix, a trailing "\<n>" (a type library's resource number) is ignored too.
inline RegisteredServer RegisteredServerAt(const wchar_t* key, const wchar_t* modulePath, bool digitSuffix = false) {
  using namespace registry_detail;
  PathBuffer value, scratch1, scratch2, scratch3;
  if (value.Get() == nullptr || scratch1.Get() == nullptr || scratch2.Get() == nullptr || scratch3.Get() == nullptr)
    return RegisteredServer::kNone;  // out of memory: removal goes on as it always did
  DWORD size = kPathCapacity * sizeof(wchar_t);
  // RRF_RT_REG_SZ takes REG_EXPAND_SZ too, expanded (RRF_RT_REG_EXPAND_SZ would be refused).
  const LSTATUS status =
      RegGetValueW(HKEY_CLASSES_ROOT, key, nullptr, RRF_RT_REG_SZ, nullptr, value.Get(), &size);
  // A missing, empty or non-text value names no file at all.
  if (status == ERROR_FILE_NOT_FOUND || status == ERROR_UNSUPPORTED_TYPE ||
      (status == ERROR_SUCCESS && value.Get()[0] == L'\0'))
    return RegisteredServer::kNone;
  if (status != ERROR_SUCCESS) return RegisteredServer::kOtherFile;  // longer than any path: left alone
  if (SamePath(value.Get(), modulePath, scratch1.Get(), scratch2.Get(), scratch3.Get()))
    return RegisteredServer::kThisModule;
  if (digitSuffix) {
    wchar_t* end = value.Get() + lstrlenW(value.Get());
    wchar_t* digits = end;
    while (digits > value.Get() && digits[-1] >= L'0' && digits[-1] <= L'9') --digits;
    if (digits != end && digits > value.Get() && digits[-1] == L'\\') {
      digits[-1] = L'\0';
      if (SamePath(value.Get(), modulePath, scratch1.Get(), scratch2.Get(), scratch3.Get()))
        return RegisteredServer::kThisModule;
    }
  }
  return RegisteredServer::kOtherFile;
}

// Who the class's InprocServer32 names in this process's view.
inline RegisteredServer ClassServer(const CLSID& clsid, const wchar_t* modulePath) {
  wchar_t key[80] = L"CLSID\\";
  if (StringFromGUID2(clsid, key + 6, 40) == 0) return RegisteredServer::kNone;
  lstrcatW(key, L"\\InprocServer32");
  return RegisteredServerAt(key, modulePath);
}

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

// Who HKCR\TypeLib\{library}\<major>.<minor>\<lcid>\win32 (or win64) names, the numbers
// in hex as RegisterTypeLib writes them: the registration of this platform's library;
// kNone when that key does not exist. The version key alone stays while the DLL of the
// other bitness is registered.
inline RegisteredServer TypeLibraryPlatformServer(const GUID& library, WORD major, WORD minor, LCID lcid, SYSKIND kind,
                                                  const wchar_t* modulePath) {
  wchar_t key[80] = L"TypeLib\\";
  if (StringFromGUID2(library, key + 8, 40) == 0) return RegisteredServer::kNone;
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
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key, 0, KEY_READ, &version) != ERROR_SUCCESS) return RegisteredServer::kNone;
  RegCloseKey(version);
  const RegisteredServer server = RegisteredServerAt(key, modulePath, true);
  // A platform key without a path is a registration of nobody's file: it goes.
  return server == RegisteredServer::kNone ? RegisteredServer::kThisModule : server;
}

}  // namespace corvane
