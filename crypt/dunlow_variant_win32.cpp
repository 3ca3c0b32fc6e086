// The VARIANT conversions of CDunlow: text in the process's ANSI code page, strictly
// (a character the code page lacks fails rather than turning into '?' or a look-alike).
#include <windows.h>
#include <oleauto.h>

#include <cstring>

#include "common/com_holders.h"
#include "common/default_value.h"
#include "dunlow.h"
#include "helper_heap.h"
#include "status.h"

namespace corvane {
namespace {

// Refuses what cannot be converted strictly to the ANSI code page; returns its size in bytes.
int NarrowLength(const wchar_t* text, int length, DWORD flags, bool checkDefault) {
  BOOL usedDefault = FALSE;
  const int needed =
      WideCharToMultiByte(CP_ACP, flags, text, length, nullptr, 0, nullptr, checkDefault ? &usedDefault : nullptr);
  return usedDefault ? 0 : needed;
}

}  // namespace

std::int32_t CDunlow::SVariant2char(VARIANT value, unsigned char** out) {
  // References and objects' default values are followed here, each to a limit; a value
  // that never reaches a plain value has no text form, like an object without a default
  // value. The default value read and the coerced copy may be key text: both are wiped on
  // every way out.
  DefaultValueKeeper defaultValue;
  UniqueVariant coerced;
  struct WipeOnExit {
    DefaultValueKeeper& d;
    UniqueVariant& v;
    ~WipeOnExit() {
      v.WipeAndClear();
      d.value.WipeAndClear();
    }
  } wipe{defaultValue, coerced};

  const PlainValue plain = FollowToPlainValue(&value, defaultValue, nullptr);
  if (plain.reached != Reached::kValue) return STATUS_NO_TEXT_FORM;
  const VARIANT* source = plain.value;
  // The coercion would turn a byte array into a string of byte pairs: no text to use here.
  if (V_ISARRAY(source)) return STATUS_NO_TEXT_FORM;

  // A string is read where it stands; anything else is coerced into a string of our own,
  // never by reading an object's default value (VT_UNKNOWN is refused, not queried).
  BSTR text = nullptr;
  if (V_VT(source) == VT_BSTR) {
    text = V_BSTR(source);
  } else if (V_VT(source) == (VT_BYREF | VT_BSTR)) {
    text = *V_BSTRREF(source);
  } else {
    if (FAILED(VariantChangeType(coerced.Receive(), const_cast<VARIANT*>(source), VARIANT_NOVALUEPROP, VT_BSTR)))
      return STATUS_NO_TEXT_FORM;
    text = V_BSTR(coerced.Get());
  }

  const UINT length = SysStringLen(text);
  if (length > 0x3FFFFFFF) return STATUS_OUT_OF_MEMORY;
  // UTF-8 as the ANSI code page takes no default character; it reports bad input itself.
  const bool utf8 = GetACP() == CP_UTF8;
  const DWORD flags = utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
  int bytes = 0;
  if (length != 0) {
    bytes = NarrowLength(text, static_cast<int>(length), flags, !utf8);
    if (bytes <= 0) return STATUS_NOT_IN_CODE_PAGE;
  }
  unsigned char* buffer = HelperAllocate(static_cast<std::size_t>(bytes) + 1);
  if (buffer == nullptr) return STATUS_OUT_OF_MEMORY;
  if (length != 0 &&
      WideCharToMultiByte(CP_ACP, flags, text, static_cast<int>(length), reinterpret_cast<char*>(buffer), bytes,
                          nullptr, nullptr) != bytes) {
    HelperFree(buffer);
    return STATUS_NOT_IN_CODE_PAGE;
  }
  buffer[bytes] = 0;
  *out = buffer;
  return bytes;
}

std::int32_t CDunlow::SChar2Variant(const unsigned char* text, VARIANT* out) {
  if (text == nullptr || out == nullptr) return STATUS_NO_TEXT_FORM;
  const std::size_t length = std::strlen(reinterpret_cast<const char*>(text));
  if (length > 0x7FFFFFFE) return STATUS_OUT_OF_MEMORY;
  const char* narrow = reinterpret_cast<const char*>(text);
  int wide = 0;
  if (length != 0) {
    wide = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, narrow, static_cast<int>(length), nullptr, 0);
    if (wide <= 0) return STATUS_NOT_IN_CODE_PAGE;
  }
  UniqueBstr result(SysAllocStringLen(nullptr, static_cast<UINT>(wide)));
  if (!result) return STATUS_OUT_OF_MEMORY;
  if (length != 0 &&
      MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, narrow, static_cast<int>(length), result.Get(), wide) != wide)
    return STATUS_NOT_IN_CODE_PAGE;
  V_VT(out) = VT_BSTR;
  V_BSTR(out) = result.Release();
  return 0;
}

}  // namespace corvane
