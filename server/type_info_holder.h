// IDispatch for ICrypt, served from the registered type library CORVANELib: one holder
// per module loads the type information on first use, keeps a cache of member names
// and hands Invoke to the platform's dispatcher.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <atomic>

namespace corvane {

struct NameCacheEntry {
  BSTR name;     // the member's name as the type information spells it (owned)
  LONG length;   // SysStringLen(name)
  DISPID dispid;
};

class TypeInfoHolder {
 public:
  // Constant: the module runs no initialisation code of its own at load.
  constexpr TypeInfoHolder(const GUID* iid, const GUID* libid, WORD majorVersion, WORD minorVersion)
      : m_pguid(iid),
        m_plibid(libid),
        m_wMajor(majorVersion),
        m_wMinor(minorVersion),
        m_pInfo(nullptr),
        m_pMap(nullptr),
        m_nCount(0),
        m_bTermFuncAdded(false) {}

  HRESULT GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info);
  HRESULT GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID lcid, DISPID* dispids);
  HRESULT Invoke(IDispatch* self, DISPID dispid, REFIID iid, LCID lcid, WORD flags, DISPPARAMS* params,
                 VARIANT* result, EXCEPINFO* exception, UINT* argumentError);

  // Loads the type information once; a failed load is tried again by the next call.
  HRESULT EnsureTypeInfo(LCID lcid);
  // The termination function: gives back the type information and the name cache.
  static void WINAPI ReleaseTypeInfo(DWORD_PTR holder);

 private:
  HRESULT BuildNameCache(ITypeInfo* info);

  const GUID* m_pguid;
  const GUID* m_plibid;
  WORD m_wMajor;
  WORD m_wMinor;
  // Stored only after the name cache is complete; readers test it before the cache.
  std::atomic<ITypeInfo*> m_pInfo;
  NameCacheEntry* m_pMap;
  int m_nCount;
  bool m_bTermFuncAdded;  // the termination function goes on the module's list once
};

// The holder of ICrypt's type information, shared by every instance in every apartment.
extern TypeInfoHolder CryptTypeInfo;

}  // namespace corvane
