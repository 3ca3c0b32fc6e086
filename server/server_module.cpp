// Corvane.dll's entry routine, its four exports and its one-row class table, on the
// ATL 3.0 module services of the system's atl.dll.
#include <windows.h>
#include <ole2.h>

#include <initializer_list>

#include "atl30.h"
#include "class_factory.h"
#include "common/com_holders.h"
#include "common/registry_views.h"
#include "corvane.h"
#include "crypt_instances.h"
#include "resource.h"
#include "server_module.h"
#include "type_info_holder.h"

namespace corvane {

atl::ModuleRecord ServerModule;

namespace {

// The services check the record against the ATL 3.0 version identifier.
GUID kAtlVersion30 = {0xB62F5910, 0x6528, 0x11D1, {0x96, 0x11, 0x00, 0x00, 0xF8, 0x1E, 0x0D, 0x0D}};

// False when AtlModuleInit refused the record: nothing may call into the services then.
bool g_moduleReady = false;

HRESULT WINAPI UpdateClassRegistry(BOOL registering) {
  return AtlModuleUpdateRegistryFromResourceD(&ServerModule, MAKEINTRESOURCEW(IDR_CRYPT), registering, nullptr,
                                              nullptr);
}

// Real functions, not null slots: the services call them unconditionally.
LPCWSTR WINAPI ObjectDescription() { return nullptr; }  // takes part in module-wide registration
const void* WINAPI CategoryMap() { return nullptr; }    // no component categories
void WINAPI ObjectMain(bool) {}

__constinit atl::ObjectMapEntry ObjectMap[] = {
    {&CLSID_Crypt, UpdateClassRegistry, CreateClassFactory, CreateCryptInstance, nullptr, 0, ObjectDescription,
     CategoryMap, ObjectMain},
    {nullptr, nullptr, nullptr, nullptr, nullptr, 0, nullptr, nullptr, nullptr},
};

// Releases the cached class objects; the services of some atl.dll versions leave them.
void ReleaseClassObjects() {
  for (atl::ObjectMapEntry* row = ObjectMap; row->pclsid != nullptr; ++row) {
    if (row->pCF != nullptr) {
      IUnknown* classObject = row->pCF;
      row->pCF = nullptr;
      classObject->Release();
    }
  }
}

// The class's own key under CLSID in this process's registry view, as the registry
// script's unregistration removes it.
HRESULT RemoveClassKey() {
  wchar_t key[80] = L"CLSID\\";
  if (StringFromGUID2(CLSID_Crypt, key + 6, 40) == 0) return E_UNEXPECTED;
  const LSTATUS status = RegDeleteTreeW(HKEY_CLASSES_ROOT, key);
  return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND ? S_OK : HRESULT_FROM_WIN32(status);
}

// The module record's three locks, once the services are done with the record. ATL's own
// AtlModuleTerm deletes them, Wine's leaves them: a lock that is still initialised has
// its debug information (or the marker for none), which a deleted one no longer has
// (deletion clears it on Windows and on Wine). Left behind, each one is a lost
// allocation at every unload.
void DeleteModuleLocks() {
  for (CRITICAL_SECTION* lock :
       {&ServerModule.m_csTypeInfoHolder, &ServerModule.m_csWindowCreate, &ServerModule.m_csObjMap}) {
    if (lock->DebugInfo != nullptr) {
      DeleteCriticalSection(lock);
      lock->DebugInfo = nullptr;
    }
  }
}

// The registration of the type library found in resource 1 of this module is removed
// while its path for this platform names this module. Unregistering again succeeds: what
// is gone already is no failure.
HRESULT UnregisterTypeLibrary(const wchar_t* path) {
  ComPtr<ITypeLib> library;
  HRESULT hr = LoadTypeLibEx(path, REGKIND_NONE, library.Receive());
  if (FAILED(hr)) return hr;
  TLIBATTR* attributes = nullptr;
  hr = library->GetLibAttr(&attributes);
  if (FAILED(hr)) return hr;
  hr = TypeLibraryPlatformServer(attributes->guid, attributes->wMajorVerNum, attributes->wMinorVerNum,
                                 attributes->lcid, attributes->syskind, path) == RegisteredServer::kThisModule
           ? UnRegisterTypeLib(attributes->guid, attributes->wMajorVerNum, attributes->wMinorVerNum, attributes->lcid,
                               attributes->syskind)
           : S_OK;
  library->ReleaseTLibAttr(attributes);
  return hr;
}

}  // namespace
}  // namespace corvane

using corvane::ServerModule;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void*) {
  if (reason == DLL_PROCESS_ATTACH) {
    ServerModule.cbSize = sizeof ServerModule;
    ServerModule.dwAtlBuildVer = corvane::atl::kBuildVersion30;
    ServerModule.pguidVer = &corvane::kAtlVersion30;
    corvane::g_moduleReady = SUCCEEDED(AtlModuleInit(&ServerModule, corvane::ObjectMap, instance));
    DisableThreadLibraryCalls(instance);
  } else if (reason == DLL_PROCESS_DETACH && corvane::g_moduleReady) {
    corvane::ReleaseClassObjects();
    AtlModuleTerm(&ServerModule);
    // Again, for when atl.dll could not put it on the termination list; a second run
    // finds nothing to release.
    corvane::TypeInfoHolder::ReleaseTypeInfo(reinterpret_cast<DWORD_PTR>(&corvane::CryptTypeInfo));
    corvane::DeleteModuleLocks();
  }
  return TRUE;
}

extern "C" HRESULT WINAPI DllCanUnloadNow() { return ServerModule.m_nLockCnt == 0 ? S_OK : S_FALSE; }

// The out-pointer is null after every failure: an unknown class, no memory, a module
// whose services refused it.
extern "C" HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (!corvane::g_moduleReady) return E_UNEXPECTED;
  // The class object is created once, under the class-table lock, which makes the first
  // requests of several threads wait for it (Wine's atl.dll does not take that lock
  // itself). Once the row holds it, it holds the table's reference (CreateClassFactory)
  // and stays until the module goes, so later requests need no lock.
  HRESULT hr;
  if (__atomic_load_n(&corvane::ObjectMap[0].pCF, __ATOMIC_ACQUIRE) == nullptr) {
    EnterCriticalSection(&ServerModule.m_csObjMap);
    hr = AtlModuleGetClassObject(&ServerModule, clsid, iid, object);
    LeaveCriticalSection(&ServerModule.m_csObjMap);
  } else {
    hr = AtlModuleGetClassObject(&ServerModule, clsid, iid, object);
  }
  if (FAILED(hr)) *object = nullptr;
  return hr;
}

extern "C" HRESULT WINAPI DllRegisterServer() {
  if (!corvane::g_moduleReady) return E_UNEXPECTED;
  return AtlModuleRegisterServer(&ServerModule, TRUE, nullptr);
}

// Removes what DllRegisterServer wrote: the keys of the registry script (the CLSID key
// itself stays) and the type library's registration. Done here rather than by
// AtlModuleUnregisterServerEx, which removes nothing in Wine's atl.dll.
// While the DLL of the other bitness is still registered in the other registry view,
// only this view's class key goes: the ProgID keys are shared by both views.
// Only what names this file goes: when another copy of the DLL was registered since (the
// class's InprocServer32, the type library's path name another file), unregistering
// this stale copy removes none of it and succeeds.
extern "C" HRESULT WINAPI DllUnregisterServer() {
  using corvane::RegisteredServer;
  if (!corvane::g_moduleReady) return E_UNEXPECTED;
  corvane::registry_detail::PathBuffer path;
  if (path.Get() == nullptr) return E_OUTOFMEMORY;
  const DWORD length = GetModuleFileNameW(ServerModule.m_hInst, path.Get(), corvane::registry_detail::kPathCapacity);
  if (length == 0 || length >= corvane::registry_detail::kPathCapacity) return HRESULT_FROM_WIN32(GetLastError());
  if (corvane::ClassServer(CLSID_Crypt, path.Get()) != RegisteredServer::kOtherFile) {
    const HRESULT hr = corvane::OtherRegistryViewRegistersClass(CLSID_Crypt) ? corvane::RemoveClassKey()
                                                                            : corvane::UpdateClassRegistry(FALSE);
    if (FAILED(hr)) return hr;
  }
  return corvane::UnregisterTypeLibrary(path.Get());
}
