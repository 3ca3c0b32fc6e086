// DllRegisterServer and DllUnregisterServer: the registry entries that let clients
// create "Tamsel.Wrapper" by ProgID, and the type library from the module's resource.
//
//   HKCR\Tamsel.Wrapper                       = "Tamsel.Wrapper"
//   HKCR\Tamsel.Wrapper\CLSID                 = {5ACC51B3-...}
//   HKCR\CLSID\{5ACC51B3-...}                 = "Tamsel.Wrapper"
//   HKCR\CLSID\{5ACC51B3-...}\InprocServer32  = full path of the DLL, ThreadingModel "Apartment"
//   HKCR\CLSID\{5ACC51B3-...}\ProgID          = "Tamsel.Wrapper"
//   HKCR\CLSID\{5ACC51B3-...}\TypeLib         = {D52E62B1-...}
//   HKCR\CLSID\{5ACC51B3-...}\VERSION         = "3.0"
//   type library Tamsel 3.0 (RegisterTypeLib also registers _Wrapper for marshalling)
#include <windows.h>
#include <oleauto.h>
#include <olectl.h>

#include <initializer_list>
#include <memory>

#include "common/registry_views.h"
#include "tamsel.h"
#include "wrapper/module.h"

namespace tamsel {
namespace {

constexpr wchar_t kProgId[] = L"Tamsel.Wrapper";
constexpr WORD kTypeLibMajor = 3;
constexpr WORD kTypeLibMinor = 0;

class UniqueKey {
 public:
  UniqueKey() = default;
  ~UniqueKey() {
    if (key_ != nullptr) RegCloseKey(key_);
  }
  UniqueKey(const UniqueKey&) = delete;
  UniqueKey& operator=(const UniqueKey&) = delete;
  HKEY Get() const { return key_; }
  HKEY* Receive() { return &key_; }

 private:
  HKEY key_ = nullptr;
};

HRESULT FromStatus(LSTATUS status) { return status == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(status); }

// Creates HKCR\path and sets its value name (nullptr: the default value) to text.
HRESULT SetText(const wchar_t* path, const wchar_t* name, const wchar_t* text) {
  UniqueKey key;
  LSTATUS status = RegCreateKeyExW(HKEY_CLASSES_ROOT, path, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE,
                                   nullptr, key.Receive(), nullptr);
  if (status == ERROR_SUCCESS) {
    const DWORD bytes = static_cast<DWORD>((std::wcslen(text) + 1) * sizeof(wchar_t));
    status = RegSetValueExW(key.Get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), bytes);
  }
  return FromStatus(status);
}

// Removes HKCR\path with everything below it; a missing key is no failure.
HRESULT DeleteTree(const wchar_t* path) {
  const LSTATUS status = RegDeleteTreeW(HKEY_CLASSES_ROOT, path);
  return status == ERROR_FILE_NOT_FOUND ? S_OK : FromStatus(status);
}

// out <- the concatenation of parts (every key path here is far below the capacity).
template <size_t N>
void Join(wchar_t (&out)[N], std::initializer_list<const wchar_t*> parts) {
  out[0] = L'\0';
  for (const wchar_t* part : parts) lstrcatW(out, part);
}

// "CLSID\{...}" followed by sub (may be empty).
void ClassKey(wchar_t (&out)[128], const wchar_t* sub) {
  wchar_t clsid[40];
  StringFromGUID2(CLSID_Wrapper, clsid, 40);
  Join(out, {L"CLSID\\", clsid, sub});
}

HRESULT Register() {
  std::unique_ptr<wchar_t[]> path = ModulePath();
  if (!path) return E_OUTOFMEMORY;
  wchar_t clsid[40];
  wchar_t libid[40];
  StringFromGUID2(CLSID_Wrapper, clsid, 40);
  StringFromGUID2(LIBID_Tamsel, libid, 40);
  wchar_t prog_id_clsid[64];
  Join(prog_id_clsid, {kProgId, L"\\CLSID"});
  wchar_t class_key[128], server_key[128], prog_id_key[128], typelib_key[128], version_key[128];
  ClassKey(class_key, L"");
  ClassKey(server_key, L"\\InprocServer32");
  ClassKey(prog_id_key, L"\\ProgID");
  ClassKey(typelib_key, L"\\TypeLib");
  ClassKey(version_key, L"\\VERSION");

  // Remove what an earlier registration left below the class, so no stale entry stays.
  HRESULT hr = DeleteTree(class_key);
  if (SUCCEEDED(hr)) hr = SetText(kProgId, nullptr, kProgId);
  if (SUCCEEDED(hr)) hr = SetText(prog_id_clsid, nullptr, clsid);
  if (SUCCEEDED(hr)) hr = SetText(class_key, nullptr, kProgId);
  if (SUCCEEDED(hr)) hr = SetText(server_key, nullptr, path.get());
  if (SUCCEEDED(hr)) hr = SetText(server_key, L"ThreadingModel", L"Apartment");
  if (SUCCEEDED(hr)) hr = SetText(prog_id_key, nullptr, kProgId);
  if (SUCCEEDED(hr)) hr = SetText(typelib_key, nullptr, libid);
  if (SUCCEEDED(hr)) hr = SetText(version_key, nullptr, L"3.0");
  if (FAILED(hr)) return SELFREG_E_CLASS;

  ComPtr<ITypeLib> lib;
  hr = LoadOwnTypeLib(lib);
  if (SUCCEEDED(hr)) hr = RegisterTypeLib(lib.Get(), path.get(), nullptr);
  return FAILED(hr) ? SELFREG_E_TYPELIB : S_OK;
}

// Removes what Register wrote, but only what names this file: after another copy of the
// DLL was registered (the class's InprocServer32 and the type library's path name that
// copy), unregistering this stale one removes none of it and succeeds.
HRESULT Unregister() {
  using corvane::RegisteredServer;
  std::unique_ptr<wchar_t[]> path = ModulePath();
  if (!path) return E_OUTOFMEMORY;
  HRESULT result = S_OK;
  const SYSKIND kind = sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32;
  if (corvane::TypeLibraryPlatformServer(LIBID_Tamsel, kTypeLibMajor, kTypeLibMinor, LOCALE_NEUTRAL, kind,
                                         path.get()) == RegisteredServer::kThisModule) {
    if (FAILED(UnRegisterTypeLib(LIBID_Tamsel, kTypeLibMajor, kTypeLibMinor, LOCALE_NEUTRAL, kind))) {
      result = SELFREG_E_TYPELIB;
    }
  }
  if (corvane::ClassServer(CLSID_Wrapper, path.get()) == RegisteredServer::kOtherFile) return result;

  wchar_t class_key[128];
  ClassKey(class_key, L"");
  if (FAILED(DeleteTree(class_key))) result = SELFREG_E_CLASS;

  // The ProgID goes only while it still names this class (another registration may have
  // taken it over since), and only when the DLL of the other bitness is not registered
  // in the other registry view: both views share it.
  if (corvane::OtherRegistryViewRegistersClass(CLSID_Wrapper)) return result;
  wchar_t clsid[40];
  StringFromGUID2(CLSID_Wrapper, clsid, 40);
  wchar_t named[40] = {};
  DWORD size = sizeof named;
  const LSTATUS status =
      RegGetValueW(HKEY_CLASSES_ROOT, L"Tamsel.Wrapper\\CLSID", nullptr, RRF_RT_REG_SZ, nullptr, named, &size);
  if (status == ERROR_SUCCESS && _wcsicmp(named, clsid) == 0 && FAILED(DeleteTree(kProgId))) {
    result = SELFREG_E_CLASS;
  }
  return result;
}

}  // namespace
}  // namespace tamsel

STDAPI DllRegisterServer() {
  const HRESULT hr = tamsel::Register();
  // Leave nothing half-registered.
  if (FAILED(hr)) tamsel::Unregister();
  return hr;
}

STDAPI DllUnregisterServer() { return tamsel::Unregister(); }
