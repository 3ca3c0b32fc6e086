// An object that has nothing but a default value (DISPID_VALUE, read as a property), as
// a script passes an object whose default property gives text. Each read first runs
// OnRead(), where a test calls back into the object under test while that object is
// converting its argument. It lives on the stack and counts the references it is given.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <string>
#include <utility>

namespace corvane::test {

class DefaultValueObject : public IDispatch {
 public:
  explicit DefaultValueObject(std::wstring text) : text_(std::move(text)) {}
  virtual ~DefaultValueObject() = default;

  STDMETHODIMP QueryInterface(REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch)) {
      *object = static_cast<IDispatch*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++references_); }
  STDMETHODIMP_(ULONG) Release() override { return static_cast<ULONG>(--references_); }
  STDMETHODIMP GetTypeInfoCount(UINT* count) override {
    *count = 0;
    return S_OK;
  }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return DISP_E_BADINDEX; }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return DISP_E_UNKNOWNNAME; }
  STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS*, VARIANT* result, EXCEPINFO* exception,
                      UINT*) override {
    if (id != DISPID_VALUE || (flags & DISPATCH_PROPERTYGET) == 0 || result == nullptr) return DISP_E_MEMBERNOTFOUND;
    ++reads_;
    OnRead();
    VariantInit(result);
    return ReadValue(result, exception);
  }

  int Reads() const { return reads_; }
  // The reference count: 1 for the test's own, and one for each reference others hold.
  LONG References() const { return references_; }
  // The object as a VT_DISPATCH argument; the VARIANT holds no reference of its own.
  VARIANT AsArgument() {
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_DISPATCH;
    V_DISPATCH(&v) = this;
    return v;
  }

 protected:
  virtual void OnRead() {}
  // Gives the default value: the text.
  virtual HRESULT ReadValue(VARIANT* result, EXCEPINFO*) {
    V_VT(result) = VT_BSTR;
    V_BSTR(result) = SysAllocStringLen(text_.data(), static_cast<UINT>(text_.size()));
    return S_OK;
  }

 private:
  std::wstring text_;
  LONG references_ = 1;
  int reads_ = 0;
};

// An object whose default value is an object: itself, as a VBScript class with
// `Public Default Property Get Value: Set Value = Me`, or another one (an object whose
// default value is such an object, or the next link of a chain that ends in text).
class ObjectValuedDefault : public DefaultValueObject {
 public:
  explicit ObjectValuedDefault(IDispatch* value = nullptr) : DefaultValueObject(L""), value_(value) {}

 protected:
  HRESULT ReadValue(VARIANT* result, EXCEPINFO*) override {
    IDispatch* value = value_ != nullptr ? value_ : this;
    value->AddRef();
    V_VT(result) = VT_DISPATCH;
    V_DISPATCH(result) = value;
    return S_OK;
  }

 private:
  IDispatch* value_;
};

// An object whose default value property fails as a script's does: it raises an error
// (DISP_E_EXCEPTION, the error and its description in EXCEPINFO when the caller gives one).
class RaisingDefault : public DefaultValueObject {
 public:
  RaisingDefault(HRESULT error, std::wstring description)
      : DefaultValueObject(L""), error_(error), description_(std::move(description)) {}

 protected:
  HRESULT ReadValue(VARIANT*, EXCEPINFO* exception) override {
    if (exception != nullptr) {
      ZeroMemory(exception, sizeof *exception);
      exception->scode = error_;
      exception->bstrSource = SysAllocString(L"RaisingDefault");
      exception->bstrDescription = SysAllocString(description_.c_str());
    }
    return DISP_E_EXCEPTION;
  }

 private:
  HRESULT error_;
  std::wstring description_;
};

}  // namespace corvane::test
