// Crypt as an object of its own, for programs that link it directly instead of
// creating it through COM: it counts its own references and offers no type
// information. The COM server has its own classes around Crypt.
#pragma once

#include <new>

#include "crypt.h"

namespace corvane {

class StandaloneCrypt final : public Crypt {
 public:
  // A new object holding one reference, or null when memory is exhausted.
  static StandaloneCrypt* Create() {
    StandaloneCrypt* object = new (std::nothrow) StandaloneCrypt();
    if (object != nullptr) object->AddRef();
    return object;
  }

  STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) || IsEqualIID(riid, IID_ICrypt)) {
      *ppv = static_cast<ICrypt*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHOD_(ULONG, AddRef)() override { return static_cast<ULONG>(++m_dwRef); }
  STDMETHOD_(ULONG, Release)() override {
    const LONG count = --m_dwRef;
    if (count == 0) delete this;
    return static_cast<ULONG>(count);
  }

  STDMETHOD(GetTypeInfoCount)(UINT* count) override {
    if (count == nullptr) return E_POINTER;
    *count = 0;
    return S_OK;
  }
  STDMETHOD(GetTypeInfo)(UINT, LCID, ITypeInfo** info) override {
    if (info != nullptr) *info = nullptr;
    return E_NOTIMPL;
  }
  STDMETHOD(GetIDsOfNames)(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  STDMETHOD(Invoke)(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
    return E_NOTIMPL;
  }

  // For tests: the key text held, or null.
  const unsigned char* KeyText() const { return m_pszKey; }

 private:
  StandaloneCrypt() = default;
  ~StandaloneCrypt() = default;
};

}  // namespace corvane
