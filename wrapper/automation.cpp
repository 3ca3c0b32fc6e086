#include "wrapper/automation.h"

#include <cstring>

namespace tamsel {
namespace {

using corvane::SafeArrayAccess;
using corvane::UniqueExcepInfo;

// VBScript passes variables as references to VARIANTs; a chain longer than this is
// refused rather than followed (a VARIANT referring to itself would never end).
constexpr int kMaxReferenceDepth = 8;

// Moves the string out of a VT_BSTR result.
BSTR TakeBstr(UniqueVariant& value) {
  BSTR s = V_BSTR(value.Get());
  V_VT(value.Get()) = VT_EMPTY;
  return s;
}

bool IsByteVector(SAFEARRAY* a) { return SafeArrayGetDim(a) == 1 && SafeArrayGetElemsize(a) == 1; }

// The failure of an Invoke: a raised exception is reported with the callee's own code
// and description.
HRESULT InvokeFailure(HRESULT hr, UniqueExcepInfo& exception, const wchar_t* prog_id, const wchar_t* member,
                      const wchar_t* what, Failure& failure) {
  EXCEPINFO* e = exception.Get();
  if (hr == DISP_E_EXCEPTION) {
    if (e->pfnDeferredFillIn != nullptr) e->pfnDeferredFillIn(e);
    if (FAILED(e->scode)) {
      hr = e->scode;
    } else if (e->wCode != 0) {
      hr = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL, e->wCode);
    }
  }
  failure.Set(hr, prog_id).Append(L".").Append(member).Append(what);
  if (e->bstrDescription != nullptr && SysStringLen(e->bstrDescription) > 0) {
    failure.Append(e->bstrDescription);
  } else {
    failure.AppendReason(hr);
  }
  return hr;
}

HRESULT LookUp(IDispatch* object, const wchar_t* prog_id, const wchar_t* member, DISPID& id, Failure& failure) {
  LPOLESTR name = const_cast<LPOLESTR>(member);
  HRESULT hr = object->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id);
  if (SUCCEEDED(hr)) return hr;
  if (hr == DISP_E_UNKNOWNNAME || hr == DISP_E_MEMBERNOTFOUND) {
    return failure.Set(hr, prog_id).Append(L" has no member ").Append(member).Code();
  }
  return failure.Set(hr, prog_id).Append(L".").Append(member).Append(L" could not be looked up: ").AppendReason(hr).Code();
}

}  // namespace

Failure& Failure::Set(HRESULT hr, const wchar_t* text) {
  code_ = hr;
  length_ = 0;
  text_[0] = L'\0';
  return Append(text);
}

Failure& Failure::Append(const wchar_t* text) {
  constexpr size_t kCapacity = sizeof text_ / sizeof text_[0];
  while (text != nullptr && *text != L'\0' && length_ + 1 < kCapacity) text_[length_++] = *text++;
  text_[length_] = L'\0';
  return *this;
}

Failure& Failure::AppendHex(unsigned long value, int digits) {
  wchar_t hex[] = L"0x00000000";
  if (digits < 1 || digits > 8) digits = 8;
  for (int i = 0; i < digits; ++i) hex[1 + digits - i] = L"0123456789ABCDEF"[(value >> (4 * i)) & 0xF];
  hex[2 + digits] = L'\0';
  return Append(hex);
}

Failure& Failure::AppendReason(HRESULT hr) {
  switch (hr) {
    case REGDB_E_CLASSNOTREG:
    case CO_E_CLASSSTRING:
      return Append(L"class not registered");
    case CO_E_DLLNOTFOUND:
      return Append(L"its DLL was not found");
    case CLASS_E_CLASSNOTAVAILABLE:
      return Append(L"its DLL does not offer the class");
    case E_NOINTERFACE:
      return Append(L"interface not supported");
    case E_ACCESSDENIED:
      return Append(L"access denied");
    case E_OUTOFMEMORY:
      return Append(L"out of memory");
    case E_POINTER:
      return Append(L"null reference");
    case E_INVALIDARG:
      return Append(L"invalid argument");
    case E_UNEXPECTED:
      return Append(L"unexpected failure");
    case E_FAIL:
      return Append(L"unspecified failure");
    case DISP_E_UNKNOWNNAME:
    case DISP_E_MEMBERNOTFOUND:
      return Append(L"member not found");
    case DISP_E_TYPEMISMATCH:
      return Append(L"type mismatch");
    case DISP_E_BADPARAMCOUNT:
      return Append(L"wrong number of arguments");
    case DISP_E_OVERFLOW:
      return Append(L"overflow");
    default:
      return Append(L"error ").AppendHex(static_cast<unsigned long>(hr), 8);
  }
}

HRESULT CoerceArgumentToText(const VARIANT* value, const wchar_t* name, UniqueBstr& text, Failure& failure) {
  for (int depth = 0; V_VT(value) == (VT_BYREF | VT_VARIANT); ++depth) {
    if (V_VARIANTREF(value) == nullptr || depth == kMaxReferenceDepth) {
      return failure.Set(E_POINTER, name).Append(L" cannot be converted to text: null reference").Code();
    }
    value = V_VARIANTREF(value);
  }
  if ((V_VT(value) & VT_BYREF) != 0 && V_BYREF(value) == nullptr) {
    return failure.Set(E_POINTER, name).Append(L" cannot be converted to text: null reference").Code();
  }
  if (V_VT(value) == VT_NULL) {
    return failure.Set(DISP_E_TYPEMISMATCH, name).Append(L" is Null and cannot be converted to text").Code();
  }
  if (V_VT(value) == (VT_ARRAY | VT_UI1) || V_VT(value) == (VT_BYREF | VT_ARRAY | VT_UI1)) {
    SAFEARRAY* bytes = V_VT(value) == (VT_ARRAY | VT_UI1) ? V_ARRAY(value) : *V_ARRAYREF(value);
    if (bytes != nullptr && !IsByteVector(bytes)) {
      return failure.Set(DISP_E_TYPEMISMATCH, name)
          .Append(L" cannot be converted to text: the byte array has more than one dimension")
          .Code();
    }
    return BytesToText(bytes, text, failure);
  }

  UniqueVariant converted;
  HRESULT hr = VariantChangeTypeEx(converted.Get(), const_cast<VARIANT*>(value), LOCALE_USER_DEFAULT, 0, VT_BSTR);
  if (FAILED(hr)) {
    return failure.Set(hr, name).Append(L" cannot be converted to text: ").AppendReason(hr).Code();
  }
  text.Reset(TakeBstr(converted));
  return S_OK;
}

HRESULT TextToBytes(BSTR text, UniqueSafeArray& bytes, Failure& failure) {
  const UINT size = SysStringByteLen(text);
  bytes.Reset(SafeArrayCreateVector(VT_UI1, 0, size));
  if (!bytes) return failure.Set(E_OUTOFMEMORY, L"a byte array could not be made: out of memory").Code();
  if (size == 0) return S_OK;
  SafeArrayAccess access(bytes.Get());
  if (FAILED(access.Status())) {
    return failure.Set(access.Status(), L"a byte array could not be filled: ").AppendReason(access.Status()).Code();
  }
  std::memcpy(access.Bytes(), text, size);
  return S_OK;
}

HRESULT BytesToText(SAFEARRAY* bytes, UniqueBstr& text, Failure& failure) {
  if (bytes != nullptr && !IsByteVector(bytes)) {
    return failure.Set(DISP_E_TYPEMISMATCH, L"a byte array with more than one dimension cannot be converted to text")
        .Code();
  }
  // A Visual Basic Byte array that was never dimensioned travels as a null array.
  const UINT size = bytes == nullptr ? 0 : bytes->rgsabound[0].cElements;
  if (size == 0) {
    text.Reset(SysAllocStringLen(L"", 0));
  } else {
    SafeArrayAccess access(bytes);
    if (FAILED(access.Status())) {
      return failure.Set(access.Status(), L"a byte array could not be read: ").AppendReason(access.Status()).Code();
    }
    text.Reset(SysAllocStringByteLen(reinterpret_cast<LPCSTR>(access.Bytes()), size));
  }
  if (!text) return failure.Set(E_OUTOFMEMORY, L"a string could not be made: out of memory").Code();
  return S_OK;
}

HRESULT CreateByProgId(const wchar_t* prog_id, ComPtr<IDispatch>& object, Failure& failure) {
  CLSID clsid;
  HRESULT hr = CLSIDFromProgID(prog_id, &clsid);
  // An unknown ProgID is the same fault for the user as an unregistered class.
  if (hr == CO_E_CLASSSTRING) hr = REGDB_E_CLASSNOTREG;
  if (SUCCEEDED(hr)) hr = CoCreateInstance(clsid, nullptr, CLSCTX_SERVER, IID_IDispatch, object.ReceiveVoid());
  if (SUCCEEDED(hr) && !object) hr = E_NOINTERFACE;
  if (FAILED(hr)) return failure.Set(hr, prog_id).Append(L" could not be created: ").AppendReason(hr).Code();
  return S_OK;
}

HRESULT CallWithResult(IDispatch* object, const wchar_t* prog_id, const wchar_t* member, VARIANT& argument,
                       UniqueVariant& result, Failure& failure) {
  DISPID id = DISPID_UNKNOWN;
  HRESULT hr = LookUp(object, prog_id, member, id, failure);
  if (FAILED(hr)) return hr;
  DISPPARAMS params = {&argument, nullptr, 1, 0};
  UniqueExcepInfo exception;
  UINT argument_error = 0;
  hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD | DISPATCH_PROPERTYGET, &params,
                      result.Receive(), exception.Get(), &argument_error);
  if (FAILED(hr)) return InvokeFailure(hr, exception, prog_id, member, L" failed: ", failure);
  return S_OK;
}

HRESULT PutProperty(IDispatch* object, const wchar_t* prog_id, const wchar_t* member, VARIANT& value,
                    Failure& failure) {
  DISPID id = DISPID_UNKNOWN;
  HRESULT hr = LookUp(object, prog_id, member, id, failure);
  if (FAILED(hr)) return hr;
  DISPID named = DISPID_PROPERTYPUT;
  DISPPARAMS params = {&value, &named, 1, 1};
  UniqueExcepInfo exception;
  UINT argument_error = 0;
  hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT, &params, nullptr, exception.Get(),
                      &argument_error);
  if (FAILED(hr)) return InvokeFailure(hr, exception, prog_id, member, L" could not be set: ", failure);
  return S_OK;
}

HRESULT TakeResultBytes(UniqueVariant& result, const wchar_t* prog_id, const wchar_t* member, UniqueSafeArray& bytes,
                        Failure& failure) {
  VARIANT* v = result.Get();
  if (V_VT(v) == VT_BSTR) return TextToBytes(V_BSTR(v), bytes, failure);
  if (V_VT(v) == (VT_ARRAY | VT_UI1)) {
    if (V_ARRAY(v) == nullptr) {
      // A Visual Basic Byte array that was never dimensioned: no bytes.
      bytes.Reset(SafeArrayCreateVector(VT_UI1, 0, 0));
      if (!bytes) return failure.Set(E_OUTOFMEMORY, L"a byte array could not be made: out of memory").Code();
      return S_OK;
    }
    if (IsByteVector(V_ARRAY(v))) {
      bytes.Reset(V_ARRAY(v));
      V_VT(v) = VT_EMPTY;
      return S_OK;
    }
  }
  return failure.Set(DISP_E_TYPEMISMATCH, prog_id)
      .Append(L".")
      .Append(member)
      .Append(L" returned a value of type ")
      .AppendHex(V_VT(v), 4)
      .Append(L" instead of a one-dimensional byte array")
      .Code();
}

HRESULT TakeResultText(UniqueVariant& result, const wchar_t* prog_id, const wchar_t* member, UniqueBstr& text,
                       Failure& failure) {
  VARIANT* v = result.Get();
  if (V_VT(v) != VT_BSTR) {
    UniqueVariant converted;
    HRESULT hr = VariantChangeTypeEx(converted.Get(), v, LOCALE_USER_DEFAULT, 0, VT_BSTR);
    if (FAILED(hr)) {
      return failure.Set(DISP_E_TYPEMISMATCH, prog_id)
          .Append(L".")
          .Append(member)
          .Append(L" returned a value of type ")
          .AppendHex(V_VT(v), 4)
          .Append(L" that cannot be converted to text")
          .Code();
    }
    text.Reset(TakeBstr(converted));
    return S_OK;
  }
  text.Reset(TakeBstr(result));
  return S_OK;
}

}  // namespace tamsel
