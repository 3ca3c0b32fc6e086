// Building VARIANT arguments for tests.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <string>

#include "common/com_holders.h"

namespace corvane::test {

// A VT_BSTR that frees itself.
class BstrVariant {
 public:
  explicit BstrVariant(const std::wstring& text) {
    V_VT(v_.Get()) = VT_BSTR;
    V_BSTR(v_.Get()) = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  }
  VARIANT& operator*() { return *v_.Get(); }
  VARIANT* Get() { return v_.Get(); }

 private:
  UniqueVariant v_;
};

inline VARIANT MakeEmpty() {
  VARIANT v;
  VariantInit(&v);
  return v;
}
inline VARIANT MakeNull() {
  VARIANT v = MakeEmpty();
  V_VT(&v) = VT_NULL;
  return v;
}
inline VARIANT MakeI4(LONG value) {
  VARIANT v = MakeEmpty();
  V_VT(&v) = VT_I4;
  V_I4(&v) = value;
  return v;
}
// A reference to another VARIANT, as script hosts pass variables.
inline VARIANT MakeVariantRef(VARIANT* target) {
  VARIANT v = MakeEmpty();
  V_VT(&v) = VT_BYREF | VT_VARIANT;
  V_VARIANTREF(&v) = target;
  return v;
}

inline std::wstring FromBstr(BSTR s) { return std::wstring(s, SysStringLen(s)); }

}  // namespace corvane::test
