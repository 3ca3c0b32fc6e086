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

// Follows VT_BYREF | VT_VARIANT references to the value itself. False when a reference
// points nowhere (depth_exceeded false) or the chain is deeper than the limit (true).
bool FollowReferences(const VARIANT*& value, bool& depth_exceeded) {
  depth_exceeded = false;
  for (int depth = 0; V_VT(value) == (VT_BYREF | VT_VARIANT); ++depth) {
    if (V_VARIANTREF(value) == nullptr) return false;
    if (depth == kMaxReferenceDepth) {
      depth_exceeded = true;
      return false;
    }
    value = V_VARIANTREF(value);
  }
  return true;
}

// VBScript's TypeName for a base VARTYPE, or null for one that scripts never see.
const wchar_t* TypeName(VARTYPE base) {
  switch (base) {
    case VT_EMPTY: return L"Empty";
    case VT_NULL: return L"Null";
    case VT_I2: return L"Integer";
    case VT_I4: case VT_INT: return L"Long";
    case VT_R4: return L"Single";
    case VT_R8: return L"Double";
    case VT_CY: return L"Currency";
    case VT_DATE: return L"Date";
    case VT_BSTR: return L"String";
    case VT_DISPATCH: return L"Object";
    case VT_ERROR: return L"Error";
    case VT_BOOL: return L"Boolean";
    case VT_VARIANT: return L"Variant";
    case VT_UNKNOWN: return L"Unknown";
    case VT_DECIMAL: return L"Decimal";
    case VT_UI1: return L"Byte";
    case VT_I1: return L"SByte";
    case VT_UI2: return L"UShort";
    case VT_UI4: case VT_UINT: return L"ULong";
    case VT_I8: return L"LongLong";
    case VT_UI8: return L"ULongLong";
    default: return nullptr;
  }
}

const wchar_t* Article(const wchar_t* word) {
  switch (word[0]) {
    case L'A': case L'E': case L'I': case L'O': return L"an ";
    default: return L"a ";
  }
}

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

// The standard coercion to VT_BSTR. An object's default value is read here rather than
// inside VariantChangeTypeEx, which reports every failure of that read as a type
// mismatch: whether the object has no default value, or reading it ran out of memory,
// is part of what the caller is told.
HRESULT CoerceToText(const VARIANT* value, UniqueVariant& text) {
  if (V_VT(value) != VT_DISPATCH && V_VT(value) != (VT_BYREF | VT_DISPATCH)) {
    return VariantChangeTypeEx(text.Get(), const_cast<VARIANT*>(value), LOCALE_USER_DEFAULT, 0, VT_BSTR);
  }
  IDispatch* object = V_VT(value) == VT_DISPATCH ? V_DISPATCH(value) : *V_DISPATCHREF(value);
  if (object == nullptr) return DISP_E_TYPEMISMATCH;
  DISPPARAMS no_arguments = {nullptr, nullptr, 0, 0};
  UniqueVariant default_value;
  const HRESULT hr = object->Invoke(DISPID_VALUE, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &no_arguments,
                                    default_value.Receive(), nullptr, nullptr);
  if (FAILED(hr)) return hr;
  return VariantChangeTypeEx(text.Get(), default_value.Get(), LOCALE_USER_DEFAULT, 0, VT_BSTR);
}

// The failure of a coercion to text of an argument (member null) or of member's result,
// in the words of the value's kind: "iStr is an array of Variant and cannot be converted
// to text". An object's default
// value is what the coercion reads, so a missing one is named as such; out of memory is
// reported as itself, and any other failure of the default value with its own reason.
HRESULT NoTextForm(HRESULT hr, const VARIANT* value, const wchar_t* subject, const wchar_t* member, Failure& failure);

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

Failure& Failure::AppendKind(const VARIANT* value) {
  bool depth_exceeded = false;
  if (!FollowReferences(value, depth_exceeded)) {
    return Append(depth_exceeded ? L"a chain of references deeper than 8" : L"a null reference");
  }
  const VARTYPE vt = V_VT(value);
  const VARTYPE base = vt & VT_TYPEMASK;
  const bool by_reference = (vt & VT_BYREF) != 0;
  if (by_reference && V_BYREF(value) == nullptr) return Append(L"a null reference");
  const wchar_t* type_name = TypeName(base);
  if ((vt & VT_ARRAY) != 0) {
    SAFEARRAY* array = by_reference ? *V_ARRAYREF(value) : V_ARRAY(value);
    const UINT dimensions = array == nullptr ? 1 : SafeArrayGetDim(array);
    if (dimensions == 2) Append(L"a two-dimensional ");
    else Append(L"an ");
    Append(L"array of ").Append(type_name != nullptr ? type_name : L"values of an unknown kind");
    if (dimensions > 2) {
      wchar_t count[12];
      int at = 11;
      count[at] = L'\0';
      for (UINT d = dimensions; d != 0 && at > 0; d /= 10) count[--at] = static_cast<wchar_t>(L'0' + d % 10);
      Append(L" with ").Append(count + at).Append(L" dimensions");
    }
    return *this;
  }
  switch (base) {
    case VT_EMPTY:
    case VT_NULL:
      return Append(type_name);
    case VT_DISPATCH:
    case VT_UNKNOWN: {
      IUnknown* object = by_reference ? *V_UNKNOWNREF(value) : V_UNKNOWN(value);
      if (object == nullptr) return Append(L"Nothing");
      return Append(base == VT_DISPATCH ? L"an object" : L"an object that scripts cannot call");
    }
    case VT_ERROR: {
      const SCODE code = by_reference ? *V_ERRORREF(value) : V_ERROR(value);
      return Append(code == DISP_E_PARAMNOTFOUND ? L"a missing argument" : L"an Error value");
    }
    default:
      if (type_name != nullptr) return Append(Article(type_name)).Append(type_name);
      return Append(L"a value of automation type ").AppendHex(vt, 4);
  }
}

HRESULT CoerceArgumentToText(const VARIANT* value, const wchar_t* name, UniqueBstr& text, Failure& failure) {
  bool depth_exceeded = false;
  if (!FollowReferences(value, depth_exceeded)) {
    if (depth_exceeded) {
      return failure.Set(E_INVALIDARG, name)
          .Append(L" cannot be converted to text: it refers to a value through more than 8 references")
          .Code();
    }
    return failure.Set(E_POINTER, name).Append(L" cannot be converted to text: null reference").Code();
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
  HRESULT hr = CoerceToText(value, converted);
  if (FAILED(hr)) return NoTextForm(hr, value, name, nullptr, failure);
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
  // On this machine only: CLSCTX_SERVER would also let a class registered for remote
  // activation run on another machine.
  if (SUCCEEDED(hr)) {
    hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER, IID_IDispatch,
                          object.ReceiveVoid());
  }
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
  // A callee may hand its result by reference, to a value it keeps: that value is read
  // where it stands and copied.
  const VARIANT* v = result.Get();
  bool depth_exceeded = false;
  const bool reached = FollowReferences(v, depth_exceeded);
  const VARTYPE vt = reached ? V_VT(v) : static_cast<VARTYPE>(VT_EMPTY);
  const bool by_reference = (vt & VT_BYREF) != 0;
  if (reached && by_reference && V_BYREF(v) == nullptr) {
    return failure.Set(E_POINTER, prog_id).Append(L".").Append(member).Append(L" returned a null reference").Code();
  }
  if ((vt & ~VT_BYREF) == VT_BSTR) return TextToBytes(by_reference ? *V_BSTRREF(v) : V_BSTR(v), bytes, failure);
  if ((vt & ~VT_BYREF) == (VT_ARRAY | VT_UI1)) {
    SAFEARRAY* array = by_reference ? *V_ARRAYREF(v) : V_ARRAY(v);
    if (array == nullptr) {
      // A Visual Basic Byte array that was never dimensioned: no bytes.
      bytes.Reset(SafeArrayCreateVector(VT_UI1, 0, 0));
      if (!bytes) return failure.Set(E_OUTOFMEMORY, L"a byte array could not be made: out of memory").Code();
      return S_OK;
    }
    if (IsByteVector(array)) {
      if (!by_reference) {
        bytes.Reset(array);
        V_VT(result.Get()) = VT_EMPTY;
        return S_OK;
      }
      SAFEARRAY* copy = nullptr;
      const HRESULT hr = SafeArrayCopy(array, &copy);
      bytes.Reset(copy);
      if (FAILED(hr)) {
        return failure.Set(hr, prog_id).Append(L".").Append(member).Append(L"'s result could not be copied: ")
            .AppendReason(hr)
            .Code();
      }
      return S_OK;
    }
  }
  return failure.Set(DISP_E_TYPEMISMATCH, prog_id)
      .Append(L".")
      .Append(member)
      .Append(L" returned ")
      .AppendKind(result.Get())
      .Append(L" instead of a one-dimensional byte array")
      .Code();
}

HRESULT TakeResultText(UniqueVariant& result, const wchar_t* prog_id, const wchar_t* member, UniqueBstr& text,
                       Failure& failure) {
  VARIANT* v = result.Get();
  if (V_VT(v) == VT_BSTR) {
    text.Reset(TakeBstr(result));
    return S_OK;
  }
  // The coercion follows a reference to a string or a byte array like the value itself.
  const VARIANT* source = v;
  bool depth_exceeded = false;
  HRESULT hr = DISP_E_TYPEMISMATCH;
  UniqueVariant converted;
  if (FollowReferences(source, depth_exceeded) && !((V_VT(source) & VT_BYREF) != 0 && V_BYREF(source) == nullptr)) {
    hr = CoerceToText(source, converted);
  }
  if (FAILED(hr)) return NoTextForm(hr, v, prog_id, member, failure);
  text.Reset(TakeBstr(converted));
  return S_OK;
}

}  // namespace tamsel

namespace tamsel {
namespace {

HRESULT NoTextForm(HRESULT hr, const VARIANT* value, const wchar_t* subject, const wchar_t* member, Failure& failure) {
  // An argument: "iStr is ...". A result: "Ostrel.Base64Func.enBase64Bin returned ...".
  auto start = [&](HRESULT code) -> Failure& {
    failure.Set(code, subject);
    if (member != nullptr) failure.Append(L".").Append(member);
    return failure;
  };
  const bool result = member != nullptr;
  if (hr == E_OUTOFMEMORY) {
    return start(hr)
        .Append(result ? L" returned a value that could not be converted to text: out of memory"
                       : L" could not be converted to text: out of memory")
        .Code();
  }
  bool depth_exceeded = false;
  const VARIANT* target = value;
  const bool object = FollowReferences(target, depth_exceeded) && V_VT(target) == VT_DISPATCH &&
                      V_DISPATCH(target) != nullptr;
  const bool no_default_value = object && (hr == DISP_E_MEMBERNOTFOUND || hr == DISP_E_UNKNOWNNAME);
  if (hr == DISP_E_TYPEMISMATCH || hr == DISP_E_BADVARTYPE || no_default_value) {
    start(DISP_E_TYPEMISMATCH).Append(result ? L" returned " : L" is ");
    if (no_default_value) {
      failure.Append(L"an object without a default value");
    } else if (object) {
      failure.Append(L"an object whose default value has no text form");
    } else {
      failure.AppendKind(value);
    }
    return failure.Append(result ? L", which cannot be converted to text" : L" and cannot be converted to text").Code();
  }
  start(hr).Append(result ? L" returned " : L" is ");
  if (object) {
    failure.Append(L"an object whose default value could not be read: ");
  } else {
    failure.AppendKind(value).Append(L" that could not be converted to text: ");
  }
  return failure.AppendReason(hr).Code();
}

}  // namespace
}  // namespace tamsel
