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
  STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS*, VARIANT* result, EXCEPINFO*, UINT*) override {
    if (id != DISPID_VALUE || (flags & DISPATCH_PROPERTYGET) == 0 || result == nullptr) return DISP_E_MEMBERNOTFOUND;
    ++reads_;
    OnRead();
    VariantInit(result);
    V_VT(result) = VT_BSTR;
    V_BSTR(result) = SysAllocStringLen(text_.data(), static_cast<UINT>(text_.size()));
    return S_OK;
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

 private:
  std::wstring text_;
  LONG references_ = 1;
  int reads_ = 0;
};

}  // namespace corvane::test
