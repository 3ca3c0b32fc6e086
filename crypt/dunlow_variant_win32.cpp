// The VARIANT conversions of CDunlow: text in the process's ANSI code page, strictly
// (a character the code page lacks fails rather than turning into '?' or a look-alike).
#include <windows.h>
#include <oleauto.h>

#include <cstring>

#include "common/com_holders.h"
#include "dunlow.h"
#include "helper_heap.h"
#include "status.h"

namespace corvane {
namespace {

// Script hosts pass variables as VT_BYREF|VT_VARIANT; references are followed to the
// value itself. Null when a reference points nowhere or the chain does not end.
const VARIANT* FollowVariantReferences(const VARIANT* value) {
  for (int depth = 0; depth < 8 && value != nullptr; ++depth) {
    if (V_VT(value) != (VT_BYREF | VT_VARIANT)) return value;
    value = V_VARIANTREF(value);
  }
  return nullptr;
}

// Refuses what cannot be converted strictly to the ANSI code page; returns its size in bytes.
int NarrowLength(const wchar_t* text, int length, DWORD flags, bool checkDefault) {
  BOOL usedDefault = FALSE;
  const int needed =
      WideCharToMultiByte(CP_ACP, flags, text, length, nullptr, 0, nullptr, checkDefault ? &usedDefault : nullptr);
  return usedDefault ? 0 : needed;
}

}  // namespace

std::int32_t CDunlow::SVariant2char(VARIANT value, unsigned char** out) {
  const VARIANT* source = FollowVariantReferences(&value);
  if (source == nullptr || (V_ISBYREF(source) && V_BYREF(source) == nullptr)) return STATUS_NO_TEXT_FORM;
  // The coercion would turn a byte array into a string of byte pairs: no text to use here.
  if (V_ISARRAY(source)) return STATUS_NO_TEXT_FORM;

  // A string is read where it stands; anything else is coerced into a string of our own.
  BSTR text = nullptr;
  UniqueVariant coerced;
  if (V_VT(source) == VT_BSTR) {
    text = V_BSTR(source);
  } else if (V_VT(source) == (VT_BYREF | VT_BSTR)) {
    text = *V_BSTRREF(source);
  } else {
    if (FAILED(VariantChangeType(coerced.Receive(), const_cast<VARIANT*>(source), 0, VT_BSTR))) return STATUS_NO_TEXT_FORM;
    text = V_BSTR(coerced.Get());
  }

  // The coerced copy may be key text: it is wiped on every way out.
  struct WipeOnExit {
    UniqueVariant& v;
    ~WipeOnExit() { v.WipeAndClear(); }
  } wipeCoerced{coerced};

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
