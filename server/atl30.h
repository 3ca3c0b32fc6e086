// The ATL 3.0 module services of the system's atl.dll, declared from their published
// binary interface: the module record, the class-table row, the interface-table row
// and the functions this module calls. mingw-w64 ships no ATL headers, and the
// import library is made from atl_x64.def / atl_x86.def.
#pragma once

#include <windows.h>
#include <ole2.h>

#include <cstddef>

namespace corvane::atl {

typedef HRESULT WINAPI CreatorFunction(void* outer, REFIID iid, void** object);
typedef LPCWSTR WINAPI DescriptionFunction();
typedef const void* WINAPI CategoryMapFunction();
typedef void WINAPI ObjectMainFunction(bool starting);
// The argument is pointer-sized on 64-bit Windows (a DWORD on 32-bit).
typedef void WINAPI TerminationFunction(DWORD_PTR argument);

// One row of a module's class table; a row with a null class identifier ends it.
struct ObjectMapEntry {
  const CLSID* pclsid;
  HRESULT(WINAPI* pfnUpdateRegistry)(BOOL registering);
  CreatorFunction* pfnGetClassObject;
  CreatorFunction* pfnCreateInstance;
  IUnknown* pCF;  // the cached class object
  DWORD dwRegister;
  DescriptionFunction* pfnGetObjectDescription;
  CategoryMapFunction* pfnGetCategoryMap;
  ObjectMainFunction* pfnObjectMain;
};

struct TerminationEntry;

// The module record, as ATL 3.0 lays it out. The services own it; this module reads
// the lock count and uses the type-information lock and the class-table lock.
struct ModuleRecord {
  UINT cbSize;
  HINSTANCE m_hInst;
  HINSTANCE m_hInstResource;
  HINSTANCE m_hInstTypeLib;
  ObjectMapEntry* m_pObjMap;
  LONG m_nLockCnt;
  HANDLE m_hHeap;
  CRITICAL_SECTION m_csTypeInfoHolder;
  CRITICAL_SECTION m_csWindowCreate;
  CRITICAL_SECTION m_csObjMap;
  // Fields added by ATL 3.0.
  DWORD dwAtlBuildVer;
  void* m_pCreateWndList;
  bool m_bDestroyHeap;
  GUID* pguidVer;
  DWORD m_dwHeaps;
  HANDLE* m_phHeaps;
  int m_nHeap;
  TerminationEntry* m_pTermFuncs;
};

// Interface-table row: the interface and the offset of its pointer inside the object.
struct InterfaceMapEntry {
  const IID* piid;
  DWORD_PTR dw;
  void* pFunc;
};
// pFunc value for a row that gives an offset.
inline void* const kSimpleMapEntry = reinterpret_cast<void*>(1);

constexpr DWORD kBuildVersion30 = 0x0300;

#ifdef _WIN64
static_assert(sizeof(ModuleRecord) == 240, "the 64-bit ATL 3.0 module record that atl.dll accepts");
static_assert(sizeof(ObjectMapEntry) == 72, "64-bit class-table row");
static_assert(sizeof(InterfaceMapEntry) == 24, "64-bit interface-table row");
#else
static_assert(sizeof(ModuleRecord) == 132, "the ATL 3.0 module record");
static_assert(offsetof(ModuleRecord, dwAtlBuildVer) == 100, "the ATL 3.0 fields follow the 100-byte ATL 2 record");
static_assert(sizeof(ObjectMapEntry) == 36, "class-table row");
static_assert(sizeof(InterfaceMapEntry) == 12, "interface-table row");
#endif

}  // namespace corvane::atl

extern "C" {
HRESULT WINAPI AtlModuleInit(corvane::atl::ModuleRecord* module, corvane::atl::ObjectMapEntry* objectMap,
                             HINSTANCE instance);
HRESULT WINAPI AtlModuleTerm(corvane::atl::ModuleRecord* module);
HRESULT WINAPI AtlModuleGetClassObject(corvane::atl::ModuleRecord* module, REFCLSID clsid, REFIID iid,
                                       void** object);
HRESULT WINAPI AtlModuleRegisterServer(corvane::atl::ModuleRecord* module, BOOL registerTypeLibrary,
                                       const CLSID* clsid);
HRESULT WINAPI AtlModuleUnregisterServerEx(corvane::atl::ModuleRecord* module, BOOL unregisterTypeLibrary,
                                           const CLSID* clsid);
HRESULT WINAPI AtlModuleUpdateRegistryFromResourceD(corvane::atl::ModuleRecord* module, LPCOLESTR resource,
                                                    BOOL registering, void* replacements, void* registrar);
HRESULT WINAPI AtlInternalQueryInterface(void* object, const corvane::atl::InterfaceMapEntry* entries, REFIID iid,
                                         void** result);
HRESULT WINAPI AtlModuleAddTermFunc(corvane::atl::ModuleRecord* module, corvane::atl::TerminationFunction* function,
                                    DWORD_PTR argument);
IUnknown* WINAPI AtlComPtrAssign(IUnknown** target, IUnknown* value);
}
