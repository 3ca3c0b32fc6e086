#include "crypt_instances.h"

#include <new>

#include "server_module.h"
#include "type_info_holder.h"

namespace corvane {
namespace {

const atl::InterfaceMapEntry kCryptInterfaces[] = {
    {&IID_ICrypt, 0, atl::kSimpleMapEntry},
    {&IID_IDispatch, 0, atl::kSimpleMapEntry},
    {nullptr, 0, nullptr},
};

}  // namespace

HRESULT DispatchingCrypt::QueryByTable(REFIID iid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;  // not every atl.dll clears it on a miss
  return AtlInternalQueryInterface(static_cast<ICrypt*>(this), kCryptInterfaces, iid, object);
}

STDMETHODIMP DispatchingCrypt::GetTypeInfoCount(UINT* count) {
  if (count == nullptr) return E_POINTER;
  *count = 1;
  return S_OK;
}

STDMETHODIMP DispatchingCrypt::GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) {
  return CryptTypeInfo.GetTypeInfo(index, lcid, info);
}

STDMETHODIMP DispatchingCrypt::GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID lcid, DISPID* dispids) {
  return CryptTypeInfo.GetIDsOfNames(iid, names, count, lcid, dispids);
}

STDMETHODIMP DispatchingCrypt::Invoke(DISPID dispid, REFIID iid, LCID lcid, WORD flags, DISPPARAMS* params,
                                      VARIANT* result, EXCEPINFO* exception, UINT* argumentError) {
  return CryptTypeInfo.Invoke(static_cast<ICrypt*>(this), dispid, iid, lcid, flags, params, result, exception,
                              argumentError);
}

CryptObject::CryptObject() { LockModule(); }

CryptObject::~CryptObject() { UnlockModule(); }

STDMETHODIMP CryptObject::QueryInterface(REFIID iid, void** object) { return QueryByTable(iid, object); }

STDMETHODIMP_(ULONG) CryptObject::AddRef() { return static_cast<ULONG>(++m_dwRef); }

STDMETHODIMP_(ULONG) CryptObject::Release() {
  const LONG count = --m_dwRef;
  if (count == 0) {
    m_dwRef = 1;  // guards against a re-entrant release during destruction
    delete this;
  }
  return static_cast<ULONG>(count);
}

AggregatedCrypt::AggregatedCrypt(IUnknown* outer) { m_pOuterUnknown = outer; }

STDMETHODIMP AggregatedCrypt::QueryInterface(REFIID iid, void** object) {
  const HRESULT hr = m_pOuterUnknown->QueryInterface(iid, object);
  if (FAILED(hr) && m_pOuterUnknown != static_cast<IUnknown*>(static_cast<ICrypt*>(this)))
    return QueryByTable(iid, object);
  return hr;
}

STDMETHODIMP_(ULONG) AggregatedCrypt::AddRef() { return m_pOuterUnknown->AddRef(); }

STDMETHODIMP_(ULONG) AggregatedCrypt::Release() { return m_pOuterUnknown->Release(); }

CryptAggregate::CryptAggregate(IUnknown* outer) : m_dwRef(0), m_inner(outer) { LockModule(); }

CryptAggregate::~CryptAggregate() { UnlockModule(); }

STDMETHODIMP CryptAggregate::QueryInterface(REFIID iid, void** object) {
  if (IsEqualIID(iid, IID_IUnknown)) {
    if (object == nullptr) return E_POINTER;
    *object = static_cast<IUnknown*>(this);
    AddRef();
    return S_OK;
  }
  return m_inner.InnerQueryInterface(iid, object);
}

STDMETHODIMP_(ULONG) CryptAggregate::AddRef() { return static_cast<ULONG>(++m_dwRef); }

STDMETHODIMP_(ULONG) CryptAggregate::Release() {
  const LONG count = --m_dwRef;
  if (count == 0) {
    m_dwRef = 1;
    delete this;
  }
  return static_cast<ULONG>(count);
}

HRESULT WINAPI CreateCryptInstance(void* outer, REFIID iid, void** object) {
  if (outer == nullptr) {
    CryptObject* crypt = new (std::nothrow) CryptObject();
    if (crypt == nullptr) return E_OUTOFMEMORY;
    const HRESULT hr = crypt->QueryInterface(iid, object);
    if (FAILED(hr)) {
      crypt->AddRef();
      crypt->Release();  // destroys it: the lock count is back where it was
    }
    return hr;
  }
  CryptAggregate* aggregate = new (std::nothrow) CryptAggregate(static_cast<IUnknown*>(outer));
  if (aggregate == nullptr) return E_OUTOFMEMORY;
  const HRESULT hr = aggregate->QueryInterface(iid, object);
  if (FAILED(hr)) {
    aggregate->AddRef();
    aggregate->Release();
  }
  return hr;
}

}  // namespace corvane
