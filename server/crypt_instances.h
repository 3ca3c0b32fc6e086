// The COM objects around Crypt: a plain instance, and the aggregate made when a
// controlling unknown is given, whose inner part delegates its IUnknown to it.
#pragma once

#include <windows.h>

#include "atl30.h"
#include "crypt/crypt.h"

namespace corvane {

// Crypt with its IDispatch half served by the module's type-information holder.
class DispatchingCrypt : public Crypt {
 public:
  STDMETHOD(GetTypeInfoCount)(UINT* count) override;
  STDMETHOD(GetTypeInfo)(UINT index, LCID lcid, ITypeInfo** info) override;
  STDMETHOD(GetIDsOfNames)(REFIID iid, LPOLESTR* names, UINT count, LCID lcid, DISPID* dispids) override;
  STDMETHOD(Invoke)(DISPID dispid, REFIID iid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                    EXCEPINFO* exception, UINT* argumentError) override;

 protected:
  DispatchingCrypt() = default;
  ~DispatchingCrypt() = default;
  // ICrypt and IDispatch: both the object's one interface pointer.
  HRESULT QueryByTable(REFIID iid, void** object);
};

// A plain instance: counts its own references and holds a module lock while alive.
class CryptObject final : public DispatchingCrypt {
 public:
  CryptObject();

  STDMETHOD(QueryInterface)(REFIID iid, void** object) override;
  STDMETHOD_(ULONG, AddRef)() override;
  STDMETHOD_(ULONG, Release)() override;

 private:
  ~CryptObject();
};

// The inner part of an aggregate: its IUnknown belongs to the controlling unknown.
class AggregatedCrypt final : public DispatchingCrypt {
 public:
  explicit AggregatedCrypt(IUnknown* outer);
  ~AggregatedCrypt() = default;

  STDMETHOD(QueryInterface)(REFIID iid, void** object) override;
  STDMETHOD_(ULONG, AddRef)() override;
  STDMETHOD_(ULONG, Release)() override;

  // The inner part's own table lookup, for the aggregate's non-delegating unknown.
  HRESULT InnerQueryInterface(REFIID iid, void** object) { return QueryByTable(iid, object); }
};

// The non-delegating unknown handed to the controlling object.
class CryptAggregate final : public IUnknown {
 public:
  explicit CryptAggregate(IUnknown* outer);

  STDMETHOD(QueryInterface)(REFIID iid, void** object) override;
  STDMETHOD_(ULONG, AddRef)() override;
  STDMETHOD_(ULONG, Release)() override;

 private:
  ~CryptAggregate();

  LONG m_dwRef;
  AggregatedCrypt m_inner;
};

// The class table's instance creator: plain without a controlling unknown, else aggregated.
HRESULT WINAPI CreateCryptInstance(void* outer, REFIID iid, void** object);

}  // namespace corvane
