// The automation work of a Wrapper call: coercing arguments to text, exact conversions
// between text and byte arrays, and late-bound calls on the outside components. Every
// function that fails records in a Failure what went wrong, in words for the caller.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include "common/com_holders.h"

namespace tamsel {

using corvane::ComPtr;
using corvane::UniqueBstr;
using corvane::UniqueSafeArray;
using corvane::UniqueVariant;

// The failure of a call: the HRESULT it returns and a description naming the step.
class Failure {
 public:
  // Records the failure: its HRESULT and the start of its description.
  Failure& Set(HRESULT hr, const wchar_t* text);
  // Adds to the description.
  Failure& Append(const wchar_t* text);
  Failure& AppendHex(unsigned long value, int digits);
  // Adds the plain words for a failure HRESULT.
  Failure& AppendReason(HRESULT hr);
  // Adds the kind of a value as a script's user knows it: Empty, Null, Nothing, a String,
  // an object, an array of Variant, ...
  Failure& AppendKind(const VARIANT* value);

  HRESULT Code() const { return code_; }
  const wchar_t* Text() const { return text_; }

 private:
  HRESULT code_ = S_OK;
  wchar_t text_[512] = {};
  size_t length_ = 0;
};

// Standard automation coercion of an argument to a string, after following VT_BYREF
// references and objects' default values (each to a depth of 8). A byte array
// (VT_ARRAY | VT_UI1, directly or by reference) gives the string made of its bytes.
// VT_NULL, values without a string form and objects whose default values never give a
// plain value fail with DISP_E_TYPEMISMATCH, naming the kind of value; a chain of
// references deeper than the limit fails with E_INVALIDARG.
HRESULT CoerceArgumentToText(const VARIANT* value, const wchar_t* name, UniqueBstr& text, Failure& failure);

// The string's bytes (two per UTF-16 code unit, low byte first) as a new VT_UI1 vector
// with lower bound 0.
HRESULT TextToBytes(BSTR text, UniqueSafeArray& bytes, Failure& failure);

// A string whose bytes are the array's elements in order (an odd count leaves a
// trailing half code unit).
HRESULT BytesToText(SAFEARRAY* bytes, UniqueBstr& text, Failure& failure);

// Creates a new instance of the class registered under prog_id, asking for IDispatch.
HRESULT CreateByProgId(const wchar_t* prog_id, ComPtr<IDispatch>& object, Failure& failure);

// Calls member with one argument as a method or property get and keeps its result.
HRESULT CallWithResult(IDispatch* object, const wchar_t* prog_id, const wchar_t* member, VARIANT& argument,
                       UniqueVariant& result, Failure& failure);

// Assigns value to the property member (DISPATCH_PROPERTYPUT, named DISPID_PROPERTYPUT).
HRESULT PutProperty(IDispatch* object, const wchar_t* prog_id, const wchar_t* member, VARIANT& value,
                    Failure& failure);

// Takes a call's result as a byte array: a one-dimensional VT_UI1 array or a string (its
// bytes), by value or by reference. Only an array held by result itself is taken over;
// one reached through a reference (VT_BYREF | VT_ARRAY, or VT_BYREF | VT_VARIANT to a
// VARIANT the callee keeps) is copied, for the callee frees it. Anything else fails with
// DISP_E_TYPEMISMATCH. argument: the array the call was given by reference, if any; a
// result that is that same array is copied too (one array must not have two owners).
HRESULT TakeResultBytes(UniqueVariant& result, const wchar_t* prog_id, const wchar_t* member, UniqueSafeArray& bytes,
                        Failure& failure, const SAFEARRAY* argument = nullptr);

// Takes a call's result coerced to a string, by value or by reference, as arguments are
// (references and default values followed, a byte array as its bytes); a value without
// a string form fails with DISP_E_TYPEMISMATCH, a coercion out of memory with
// E_OUTOFMEMORY.
HRESULT TakeResultText(UniqueVariant& result, const wchar_t* prog_id, const wchar_t* member, UniqueBstr& text,
                       Failure& failure);

}  // namespace tamsel
