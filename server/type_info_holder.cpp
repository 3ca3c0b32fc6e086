#include "type_info_holder.h"

#include <cstring>
#include <new>

#include "common/com_holders.h"
#include "corvane.h"
#include "server_module.h"

namespace corvane {

__constinit TypeInfoHolder CryptTypeInfo(&IID_ICrypt, &LIBID_CORVANELib, 1, 0);

HRESULT TypeInfoHolder::EnsureTypeInfo(LCID lcid) {
  if (m_pInfo.load(std::memory_order_acquire) != nullptr) return S_OK;

  HRESULT hr = S_OK;
  EnterCriticalSection(&ServerModule.m_csTypeInfoHolder);
  if (m_pInfo.load(std::memory_order_relaxed) == nullptr) {
    ComPtr<ITypeLib> library;
    hr = LoadRegTypeLib(*m_plibid, m_wMajor, m_wMinor, lcid, library.Receive());
    ComPtr<ITypeInfo> info;
    if (SUCCEEDED(hr)) hr = library->GetTypeInfoOfGuid(*m_pguid, info.Receive());
    if (SUCCEEDED(hr)) {
      ComPtr<ITypeInfo2> info2;
      info->QueryInterface(IID_ITypeInfo2, info2.ReceiveVoid());
      ITypeInfo* kept = nullptr;
      AtlComPtrAssign(reinterpret_cast<IUnknown**>(&kept), info2 ? static_cast<ITypeInfo*>(info2.Get()) : info.Get());
      BuildNameCache(kept);
      m_pInfo.store(kept, std::memory_order_release);
    }
  }
  // Added once, not once per failed load: a process that keeps calling while the type
  // library is unregistered must not grow the module's termination list.
  if (!m_bTermFuncAdded) {
    m_bTermFuncAdded = true;
    AtlModuleAddTermFunc(&ServerModule, &TypeInfoHolder::ReleaseTypeInfo, reinterpret_cast<DWORD_PTR>(this));
  }
  LeaveCriticalSection(&ServerModule.m_csTypeInfoHolder);
  return hr;
}

HRESULT TypeInfoHolder::BuildNameCache(ITypeInfo* info) {
  TYPEATTR* attributes = nullptr;
  if (FAILED(info->GetTypeAttr(&attributes))) return S_OK;
  m_nCount = attributes->cFuncs;
  m_pMap = nullptr;
  if (m_nCount != 0) {
    m_pMap = new (std::nothrow) NameCacheEntry[m_nCount]();
    if (m_pMap == nullptr) m_nCount = 0;
  }
  for (int i = 0; i < m_nCount; ++i) {
    FUNCDESC* function = nullptr;
    if (FAILED(info->GetFuncDesc(static_cast<UINT>(i), &function))) continue;
    BSTR name = nullptr;
    if (SUCCEEDED(info->GetDocumentation(function->memid, &name, nullptr, nullptr, nullptr))) {
      m_pMap[i].name = name;
      m_pMap[i].length = static_cast<LONG>(SysStringLen(name));
      m_pMap[i].dispid = function->memid;
    }
    info->ReleaseFuncDesc(function);
  }
  info->ReleaseTypeAttr(attributes);
  return S_OK;
}

void WINAPI TypeInfoHolder::ReleaseTypeInfo(DWORD_PTR holder) {
  TypeInfoHolder* self = reinterpret_cast<TypeInfoHolder*>(holder);
  if (ITypeInfo* info = self->m_pInfo.exchange(nullptr)) info->Release();
  if (self->m_pMap != nullptr) {
    for (int i = 0; i < self->m_nCount; ++i) SysFreeString(self->m_pMap[i].name);
    delete[] self->m_pMap;
    self->m_pMap = nullptr;
  }
  self->m_nCount = 0;
  self->m_bTermFuncAdded = false;
}

HRESULT TypeInfoHolder::GetTypeInfo(UINT, LCID lcid, ITypeInfo** info) {
  if (info == nullptr) return E_POINTER;
  HRESULT hr = S_OK;
  if (m_pInfo.load(std::memory_order_acquire) == nullptr) hr = EnsureTypeInfo(lcid);
  *info = m_pInfo.load(std::memory_order_acquire);
  if (*info == nullptr) return FAILED(hr) ? hr : E_UNEXPECTED;
  (*info)->AddRef();
  return S_OK;
}

HRESULT TypeInfoHolder::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID lcid, DISPID* dispids) {
  HRESULT hr = EnsureTypeInfo(lcid);
  ITypeInfo* info = m_pInfo.load(std::memory_order_acquire);
  if (info == nullptr) return hr;
  if (static_cast<int>(count) <= 0) return hr;
  if (names == nullptr || dispids == nullptr) return E_POINTER;

  for (UINT i = 0; i < count; ++i) {
    if (names[i] == nullptr) {  // the type information would read through it
      dispids[i] = DISPID_UNKNOWN;
      return DISP_E_UNKNOWNNAME;
    }
    const int n = lstrlenW(names[i]);
    bool found = false;
    for (int j = m_nCount - 1; j >= 0 && !found; --j) {
      const NameCacheEntry& entry = m_pMap[j];
      if (entry.name != nullptr && entry.length == n &&
          std::memcmp(entry.name, names[i], static_cast<std::size_t>(n) * sizeof(OLECHAR)) == 0) {
        dispids[i] = entry.dispid;
        found = true;
      }
    }
    if (!found) {
      // Resolves the whole list: the first name is a member, the others its parameters.
      hr = info->GetIDsOfNames(names, count, dispids);
      if (FAILED(hr)) return hr;
    }
  }
  return hr;
}

HRESULT TypeInfoHolder::Invoke(IDispatch* self, DISPID dispid, REFIID, LCID lcid, WORD flags, DISPPARAMS* params,
                               VARIANT* result, EXCEPINFO* exception, UINT* argumentError) {
  HRESULT hr = S_OK;
  if (m_pInfo.load(std::memory_order_acquire) == nullptr) {
    hr = EnsureTypeInfo(lcid);
    if (m_pInfo.load(std::memory_order_acquire) == nullptr) return hr;
  }
  // The dispatcher reads the argument list and both of its arrays unconditionally.
  if (params == nullptr || (params->cArgs != 0 && params->rgvarg == nullptr) ||
      (params->cNamedArgs != 0 && params->rgdispidNamedArgs == nullptr))
    return E_INVALIDARG;
  return m_pInfo.load(std::memory_order_acquire)->Invoke(self, dispid, flags, params, result, exception,
                                                          argumentError);
}

}  // namespace corvane
