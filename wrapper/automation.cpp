#include "wrapper/automation.h"

#include <cstring>

#include "common/default_value.h"
#include "common/registry_views.h"

namespace tamsel {
namespace {

using corvane::DefaultValueKeeper;
using corvane::kMaxDefaultValueDepth;
using corvane::kMaxReferenceDepth;
using corvane::PlainValue;
using corvane::Reached;
using corvane::SafeArrayAccess;
using corvane::UniqueExcepInfo;

// The descriptions name both limits as 8.
static_assert(kMaxReferenceDepth == 8 && kMaxDefaultValueDepth == 8, "the descriptions name the limits");

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

// The standard coercion to VT_BSTR of a value that is no object and no reference to a
// VARIANT (FollowToPlainValue has read any default value). VARIANT_NOVALUEPROP: the
// system never reads a default value itself (it would follow one that is an object
// without limit).
HRESULT CoerceToText(const VARIANT* value, UniqueVariant& text) {
  return VariantChangeTypeEx(text.Get(), const_cast<VARIANT*>(value), LOCALE_USER_DEFAULT, VARIANT_NOVALUEPROP,
                             VT_BSTR);
}

// A value as the text that an argument (member null) or member's result stands for: its
// references and default values followed, a byte array as the string of its bytes, any
// other value by the standard coercion. A failure is described in the words of the
// value's kind: "iStr is an array of Variant and cannot be converted to text".
HRESULT TextOfValue(const VARIANT* value, const wchar_t* subject, const wchar_t* member, UniqueBstr& text,
                    Failure& failure);

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
  return TextOfValue(value, name, nullptr, text, failure);
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

namespace {

// True when this process's registry view has a server for the class (an in-process or
// a local one: either may serve CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER).
bool ThisRegistryViewHasServer(const CLSID& clsid) {
  wchar_t key[80] = L"CLSID\\";
  if (StringFromGUID2(clsid, key + 6, 40) == 0) return true;  // cannot tell: no claim about views
  const int end = lstrlenW(key);
  for (const wchar_t* server : {L"\\InprocServer32", L"\\LocalServer32"}) {
    lstrcpyW(key + end, server);
    HKEY opened = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key, 0, KEY_QUERY_VALUE, &opened) == ERROR_SUCCESS) {
      RegCloseKey(opened);
      return true;
    }
  }
  return false;
}

}  // namespace

HRESULT CreateByProgId(const wchar_t* prog_id, ComPtr<IDispatch>& object, Failure& failure) {
  CLSID clsid = CLSID_NULL;
  HRESULT hr = CLSIDFromProgID(prog_id, &clsid);
  const bool known_prog_id = SUCCEEDED(hr);
  // An unknown ProgID is the same fault for the user as an unregistered class.
  if (hr == CO_E_CLASSSTRING) hr = REGDB_E_CLASSNOTREG;
  // On this machine only: CLSCTX_SERVER would also let a class registered for remote
  // activation run on another machine.
  if (SUCCEEDED(hr)) {
    hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER, IID_IDispatch,
                          object.ReceiveVoid());
  }
  if (SUCCEEDED(hr) && !object) hr = E_NOINTERFACE;
  // ProgIDs are shared by both registry views, classes are not: a component registered
  // by the regsvr32 of the other bitness has a ProgID here but no class (Windows answers
  // REGDB_E_CLASSNOTREG, Wine REGDB_E_KEYMISSING). The user is told which bitness it is.
  if (known_prog_id && (hr == REGDB_E_CLASSNOTREG || hr == REGDB_E_KEYMISSING) && !ThisRegistryViewHasServer(clsid) &&
      corvane::OtherRegistryViewRegistersClass(clsid)) {
#ifdef _WIN64
    return failure.Set(REGDB_E_CLASSNOTREG, prog_id)
        .Append(L" is registered for 32-bit programs only; this is a 64-bit process")
        .Code();
#else
    return failure.Set(REGDB_E_CLASSNOTREG, prog_id)
        .Append(L" is registered for 64-bit programs only; this is a 32-bit process")
        .Code();
#endif
  }
  if (hr == REGDB_E_KEYMISSING) hr = REGDB_E_CLASSNOTREG;
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
                        Failure& failure, const SAFEARRAY* argument) {
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
      // Only an array in the result VARIANT itself is the wrapper's to take over. One
      // reached through a reference, to a VARIANT or to an array, stays the callee's,
      // which frees it when it goes. Nor is the array of the call's own argument, which a
      // component that works in place may hand back as its result: the wrapper holds it already.
      if (v == result.Get() && !by_reference && array != argument) {
        bytes.Reset(array);
        V_VT(result.Get()) = VT_EMPTY;
        return S_OK;
      }
      SAFEARRAY* copy = nullptr;
      const HRESULT hr = SafeArrayCopy(array, &copy);
      bytes.Reset(copy);
      // The argument's array handed back by value: the result does not own it a second time.
      if (v == result.Get() && !by_reference) V_VT(result.Get()) = VT_EMPTY;
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
  return TextOfValue(v, prog_id, member, text, failure);
}

}  // namespace tamsel

namespace tamsel {
namespace {

HRESULT TextOfValue(const VARIANT* value, const wchar_t* subject, const wchar_t* member, UniqueBstr& text,
                    Failure& failure) {
  // An argument: "iStr is ...". A result: "Ostrel.Base64Func.enBase64Bin returned ...".
  const bool result = member != nullptr;
  auto start = [&](HRESULT code) -> Failure& {
    failure.Set(code, subject);
    if (result) failure.Append(L".").Append(member);
    return failure;
  };
  auto no_text_form = [&](const wchar_t* kind) -> HRESULT {
    start(DISP_E_TYPEMISMATCH).Append(result ? L" returned " : L" is ").Append(kind);
    return failure.Append(result ? L", which cannot be converted to text" : L" and cannot be converted to text").Code();
  };

  // A default value may be key text: it is wiped when the call is done with it.
  DefaultValueKeeper default_value;
  struct WipeOnExit {
    DefaultValueKeeper& d;
    ~WipeOnExit() { d.value.WipeAndClear(); }
  } wipe{default_value};
  UniqueExcepInfo exception;
  const PlainValue plain = corvane::FollowToPlainValue(value, default_value, exception.Get());
  const bool from_object = plain.default_values > 0;
  switch (plain.reached) {
    case Reached::kValue:
      break;
    case Reached::kNullReference:
      if (result) return no_text_form(L"a null reference");
      return start(E_POINTER).Append(L" cannot be converted to text: null reference").Code();
    case Reached::kTooManyReferences:
      if (result) return no_text_form(L"a chain of references deeper than 8");
      return start(E_INVALIDARG)
          .Append(L" cannot be converted to text: it refers to a value through more than 8 references")
          .Code();
    case Reached::kNothing:
      return no_text_form(from_object ? L"an object whose default value is Nothing" : L"Nothing");
    case Reached::kNoPlainValue:
      // A VBScript class whose default property returns Me, or objects that hand each
      // other on: no text ever comes, as with an object without a default value.
      return no_text_form(L"an object whose default value never gives a plain value (objects more than 8 deep)");
    case Reached::kDefaultValueFailed: {
      HRESULT hr = plain.read_failure;
      if (hr == DISP_E_MEMBERNOTFOUND || hr == DISP_E_UNKNOWNNAME) {
        return no_text_form(from_object ? L"an object whose default value is an object without a default value"
                                        : L"an object without a default value");
      }
      EXCEPINFO* e = exception.Get();
      if (hr == DISP_E_EXCEPTION) {
        if (e->pfnDeferredFillIn != nullptr) e->pfnDeferredFillIn(e);
        if (FAILED(e->scode)) {
          hr = e->scode;
        } else if (e->wCode != 0) {
          hr = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL, e->wCode);
        }
      }
      if (hr == E_OUTOFMEMORY) {
        return start(hr)
            .Append(result ? L" returned a value that could not be converted to text: out of memory"
                           : L" could not be converted to text: out of memory")
            .Code();
      }
      start(hr).Append(result ? L" returned " : L" is ").Append(L"an object whose default value could not be read: ");
      if (e->bstrDescription != nullptr && SysStringLen(e->bstrDescription) > 0) return failure.Append(e->bstrDescription).Code();
      return failure.AppendReason(hr).Code();
    }
  }

  const VARIANT* plain_value = plain.value;
  const VARTYPE vt = V_VT(plain_value);
  if (vt == VT_NULL) {
    if (from_object) return no_text_form(L"an object whose default value is Null");
    if (!result) return start(DISP_E_TYPEMISMATCH).Append(L" is Null and cannot be converted to text").Code();
    return no_text_form(L"Null");
  }
  if ((vt & ~VT_BYREF) == (VT_ARRAY | VT_UI1)) {
    SAFEARRAY* bytes = (vt & VT_BYREF) != 0 ? *V_ARRAYREF(plain_value) : V_ARRAY(plain_value);
    if (bytes != nullptr && !IsByteVector(bytes)) {
      // The standard coercion refuses it too, as an invalid argument: the value is what
      // is wrong, so the caller hears of a type mismatch.
      if (result) {
        start(DISP_E_TYPEMISMATCH).Append(L" returned ").AppendKind(plain_value);
        return failure.Append(L", which cannot be converted to text").Code();
      }
      return start(DISP_E_TYPEMISMATCH)
          .Append(L" cannot be converted to text: the byte array has more than one dimension")
          .Code();
    }
    return BytesToText(bytes, text, failure);
  }

  UniqueVariant converted;
  const HRESULT hr = CoerceToText(plain_value, converted);
  if (SUCCEEDED(hr)) {
    text.Reset(TakeBstr(converted));
    return S_OK;
  }
  if (hr == E_OUTOFMEMORY) {
    return start(hr)
        .Append(result ? L" returned a value that could not be converted to text: out of memory"
                       : L" could not be converted to text: out of memory")
        .Code();
  }
  if (hr == DISP_E_TYPEMISMATCH || hr == DISP_E_BADVARTYPE) {
    if (from_object) return no_text_form(L"an object whose default value has no text form");
    start(DISP_E_TYPEMISMATCH).Append(result ? L" returned " : L" is ").AppendKind(value);
    return failure.Append(result ? L", which cannot be converted to text" : L" and cannot be converted to text").Code();
  }
  start(hr).Append(result ? L" returned " : L" is ");
  if (from_object) {
    failure.Append(L"an object whose default value could not be converted to text: ");
  } else {
    failure.AppendKind(value).Append(L" that could not be converted to text: ");
  }
  return failure.AppendReason(hr).Code();
}

}  // namespace
}  // namespace tamsel
