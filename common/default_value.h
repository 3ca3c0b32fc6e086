// The value a script means by an argument: references (VT_BYREF | VT_VARIANT, as script
// hosts pass variables) and objects' default values (DISPID_VALUE read as a property, as
// VBScript's Default Property gives) followed to a value that is neither, each chain to a
// fixed depth. Both servers follow them here instead of leaving objects to the system's
// coercion: oleaut32 reads a default value that is an object again and again, without
// limit, until the stack overflows (a VBScript class whose default property returns Me).
// Header-only and shared by both servers.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include "common/com_holders.h"

namespace corvane {

// References followed one after another before the chain counts as endless (a VARIANT
// that refers to itself would never end).
constexpr int kMaxReferenceDepth = 8;
// Default values read one after another (an object whose default value is an object
// whose default value ...). Real chains are one or two long (a recordset field's Value).
constexpr int kMaxDefaultValueDepth = 8;

enum class Reached {
  kValue,               // a value that is neither a reference to a VARIANT nor an object
  kNullReference,       // a reference that points nowhere
  kTooManyReferences,   // more than kMaxReferenceDepth references in a row
  kNothing,             // an object reference that is null
  kDefaultValueFailed,  // reading a default value failed (DISP_E_MEMBERNOTFOUND: the object has none)
  kNoPlainValue,        // every default value was an object again, past kMaxDefaultValueDepth
};

struct PlainValue {
  Reached reached = Reached::kValue;
  // kValue: the value, in the caller's chain or in the holder; never VT_BYREF | VT_VARIANT,
  // VT_DISPATCH or a reference with a null pointer.
  const VARIANT* value = nullptr;
  HRESULT read_failure = S_OK;  // kDefaultValueFailed: what the read returned
  int default_values = 0;       // how many default values were read (a failed read not counted)
};

// What a plain value read from a default value rests on, kept for as long as the caller
// uses it: the last default value read and the object it came from (a value handed by
// reference may point into that object). The value goes first, then the object.
struct DefaultValueKeeper {
  ComPtr<IDispatch> object;
  UniqueVariant value;
};

// Follows value to its plain value. A default value read is kept in keeper (which the
// caller clears, wiping the value where it may hold secrets); exception, when not null,
// receives what a failing read raised. VT_UNKNOWN counts as a plain value: the caller's
// coercion refuses it.
inline PlainValue FollowToPlainValue(const VARIANT* value, DefaultValueKeeper& keeper, EXCEPINFO* exception) {
  PlainValue out;
  for (;;) {
    for (int references = 0; V_VT(value) == (VT_BYREF | VT_VARIANT); ++references) {
      if (V_VARIANTREF(value) == nullptr) {
        out.reached = Reached::kNullReference;
        return out;
      }
      if (references == kMaxReferenceDepth) {
        out.reached = Reached::kTooManyReferences;
        return out;
      }
      value = V_VARIANTREF(value);
    }
    if ((V_VT(value) & VT_BYREF) != 0 && V_BYREF(value) == nullptr) {
      out.reached = Reached::kNullReference;
      return out;
    }
    if (V_VT(value) != VT_DISPATCH && V_VT(value) != (VT_BYREF | VT_DISPATCH)) {
      out.value = value;
      return out;
    }
    IDispatch* object = V_VT(value) == VT_DISPATCH ? V_DISPATCH(value) : *V_DISPATCHREF(value);
    if (object == nullptr) {
      out.reached = Reached::kNothing;
      return out;
    }
    if (out.default_values == kMaxDefaultValueDepth) {
      out.reached = Reached::kNoPlainValue;
      return out;
    }
    // The object is held before the one it came from may go (its default value may have
    // been a reference into that one).
    keeper.object = ComPtr<IDispatch>::Share(object);
    DISPPARAMS no_arguments = {nullptr, nullptr, 0, 0};
    VARIANT next;
    VariantInit(&next);
    const HRESULT hr =
        object->Invoke(DISPID_VALUE, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &no_arguments, &next,
                       exception, nullptr);
    if (FAILED(hr)) {
      VariantClear(&next);
      out.reached = Reached::kDefaultValueFailed;
      out.read_failure = hr;
      return out;
    }
    ++out.default_values;
    *keeper.value.Receive() = next;
    value = keeper.value.Get();
  }
}

}  // namespace corvane
