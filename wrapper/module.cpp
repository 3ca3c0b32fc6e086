// Entry points of TamselWrapper that COM calls to load it, reach its class and unload it.
#include "wrapper/module.h"

#include <new>

#include "tamsel.h"
#include "wrapper/wrapper.h"

namespace tamsel {
namespace {

HINSTANCE g_instance = nullptr;
LONG g_module_locks = 0;

// The shared type information: written once, under the lock, and only read afterwards.
SRWLOCK g_type_info_lock = SRWLOCK_INIT;
ITypeInfo* g_type_info = nullptr;

// The one class factory of Wrapper. It lives as long as the module; the references
// clients hold on it count as module locks, so the module cannot be unloaded under a
// client that keeps the factory without calling LockServer.
class WrapperFactory final : public IClassFactory {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IClassFactory) {
      *object = static_cast<IClassFactory*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override {
    LockModule();
    return 2;
  }
  STDMETHODIMP_(ULONG) Release() override {
    UnlockModule();
    return 1;
  }
  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    return Wrapper::Create(riid, object);
  }
  STDMETHODIMP LockServer(BOOL lock) override {
    if (lock) {
      LockModule();
    } else {
      UnlockModule();
    }
    return S_OK;
  }
};

__constinit WrapperFactory g_factory;  // constant: no initialisation code runs at load

}  // namespace

void LockModule() { InterlockedIncrement(&g_module_locks); }
void UnlockModule() { InterlockedDecrement(&g_module_locks); }

std::unique_ptr<wchar_t[]> ModulePath() {
  // Long paths (\\?\ prefixed) can reach 32767 characters.
  constexpr DWORD kCapacity = 32768;
  std::unique_ptr<wchar_t[]> path(new (std::nothrow) wchar_t[kCapacity]);
  if (!path) return path;
  DWORD length = GetModuleFileNameW(g_instance, path.get(), kCapacity);
  if (length == 0 || length >= kCapacity) path.reset();
  return path;
}

HRESULT LoadOwnTypeLib(ComPtr<ITypeLib>& lib) {
  std::unique_ptr<wchar_t[]> path = ModulePath();
  if (!path) return E_OUTOFMEMORY;
  // A DLL path loads the module's resource "TYPELIB" 1.
  return LoadTypeLibEx(path.get(), REGKIND_NONE, lib.Receive());
}

HRESULT SharedTypeInfo(ComPtr<ITypeInfo>& info) {
  AcquireSRWLockExclusive(&g_type_info_lock);
  HRESULT hr = S_OK;
  if (g_type_info == nullptr) {
    ComPtr<ITypeLib> lib;
    hr = LoadOwnTypeLib(lib);
    if (SUCCEEDED(hr)) hr = lib->GetTypeInfoOfGuid(IID__Wrapper, &g_type_info);
  }
  if (g_type_info != nullptr) {
    g_type_info->AddRef();
    info.Reset(g_type_info);
  }
  ReleaseSRWLockExclusive(&g_type_info_lock);
  return hr;
}

}  // namespace tamsel

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH) {
    tamsel::g_instance = instance;
    DisableThreadLibraryCalls(instance);
  } else if (reason == DLL_PROCESS_DETACH && reserved == nullptr && tamsel::g_type_info != nullptr) {
    // Unloaded by FreeLibrary: oleaut32 is still there to take the reference back. At
    // process exit (reserved set) nothing is released.
    tamsel::g_type_info->Release();
    tamsel::g_type_info = nullptr;
  }
  return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, LPVOID* object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (clsid != CLSID_Wrapper) return CLASS_E_CLASSNOTAVAILABLE;
  return tamsel::g_factory.QueryInterface(riid, object);
}

STDAPI DllCanUnloadNow() {
  return InterlockedCompareExchange(&tamsel::g_module_locks, 0, 0) == 0 ? S_OK : S_FALSE;
}
