// The class Wrapper: _Wrapper's two methods over the outside Twofish and Base64
// components, IDispatch through the module's own type library, rich error information.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include "common/com_holders.h"
#include "tamsel.h"
#include "wrapper/automation.h"

namespace tamsel {

class Wrapper final : public _Wrapper, public ISupportErrorInfo {
 public:
  // Makes a new object and returns its interface riid (the object's only reference).
  static HRESULT Create(REFIID riid, void** object);

  // IUnknown
  STDMETHODIMP QueryInterface(REFIID riid, void** object) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;

  // IDispatch
  STDMETHODIMP GetTypeInfoCount(UINT* count) override;
  STDMETHODIMP GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
  STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override;
  STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                      EXCEPINFO* exception, UINT* argument_error) override;

  // _Wrapper
  STDMETHODIMP TwofishEncrypt(VARIANT* iStr, VARIANT* iKeyStr, VARIANT* vout) override;
  STDMETHODIMP TwofishDecrypt(VARIANT* iStr, VARIANT* iKeyStr, VARIANT* vout) override;

  // ISupportErrorInfo
  STDMETHODIMP InterfaceSupportsErrorInfo(REFIID riid) override;

 private:
  Wrapper();
  ~Wrapper();
  Wrapper(const Wrapper&) = delete;
  Wrapper& operator=(const Wrapper&) = delete;

  // Both methods: coerce the key, then the text, transform, hand out the result.
  HRESULT Run(VARIANT* iStr, VARIANT* iKeyStr, VARIANT* vout, bool encrypt);
  // Drives the Base64 and Twofish components for one call; see wrapper.cpp.
  static HRESULT TwofishTransform(UniqueBstr& data_text, BSTR key_text, bool encrypt, UniqueBstr& result_text,
                                  Failure& failure);
  // Sets the rich error information of a failed call and returns its HRESULT.
  static HRESULT Report(const Failure& failure);

  LONG references_ = 1;
  ComPtr<ITypeInfo> type_info_;
};

}  // namespace tamsel
