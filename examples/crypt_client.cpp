// Corvane.Crypt from C++ through its vtable, built against what dist/include ships:
//   mingw-w64: x86_64-w64-mingw32-g++ -I dist/include crypt_client.cpp dist/include/corvane_i.c
//              -lole32 -loleaut32 -luuid -static -o crypt_client.exe
//   MSVC:      cl /EHsc /I dist\include crypt_client.cpp dist\include\corvane_i.c ole32.lib oleaut32.lib
// (i686-w64-mingw32-g++ for a 32-bit client, which needs the x86 DLL registered). The methods
// return S_OK even when they fail: the outcome is the status that IsError reports.
#include <windows.h>

#include <cstdio>

#include "corvane.h"

namespace {

// A VARIANT that clears itself (and frees its string) at the end of its scope.
class Variant {
 public:
  Variant() { VariantInit(&value_); }
  explicit Variant(const wchar_t* text) : Variant() {
    V_VT(&value_) = VT_BSTR;
    V_BSTR(&value_) = SysAllocString(text);
  }
  ~Variant() { VariantClear(&value_); }
  Variant(const Variant&) = delete;
  Variant& operator=(const Variant&) = delete;

  VARIANT& get() { return value_; }
  VARIANT* receive() {  // for an [out] parameter: empties the VARIANT first
    VariantClear(&value_);
    return &value_;
  }
  // A null argument (the string could not be allocated) counts as a failure too.
  bool holds_text() const { return V_VT(&value_) == VT_BSTR && V_BSTR(&value_) != nullptr; }
  const wchar_t* text() const { return V_BSTR(&value_); }

 private:
  VARIANT value_;
};

// True when the call and the operation both succeeded; otherwise prints which failed.
bool Succeeded(ICrypt* crypt, HRESULT hr, const char* what) {
  if (FAILED(hr)) {
    std::printf("%s failed: HRESULT 0x%08lX\n", what, static_cast<unsigned long>(hr));
    return false;
  }
  LONG status = 0;
  hr = crypt->IsError(&status);
  if (FAILED(hr) || status != 0) {
    std::printf("%s failed: status %ld\n", what, static_cast<long>(status));
    return false;
  }
  return true;
}

int Run(ICrypt* crypt) {
  Variant key(L"my secret key");
  Variant text(L"Meet me at noon.");
  if (!key.holds_text() || !text.holds_text()) {
    std::printf("out of memory\n");
    return 1;
  }
  if (!Succeeded(crypt, crypt->SetKey(key.get()), "SetKey")) return 1;

  Variant secret;  // the caller owns the string that comes back
  if (!Succeeded(crypt, crypt->enCrypt(text.get(), secret.receive()), "enCrypt")) return 1;
  std::printf("enCrypt: %ls\n", secret.text());

  Variant decrypted;
  if (!Succeeded(crypt, crypt->deCrypt(secret.get(), decrypted.receive()), "deCrypt")) return 1;
  std::printf("deCrypt: %ls\n", decrypted.text());

  // Bad input: S_OK all the same, and a status number.
  Variant not_base64(L"****");
  Variant ignored;
  HRESULT hr = crypt->deCrypt(not_base64.get(), ignored.receive());
  LONG status = 0;
  crypt->IsError(&status);
  std::printf("deCrypt of text that is not Base64: HRESULT 0x%08lX, status %ld\n",
              static_cast<unsigned long>(hr), static_cast<long>(status));
  return 0;
}

}  // namespace

int main() {
  HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  if (FAILED(hr)) {
    std::printf("CoInitializeEx failed: HRESULT 0x%08lX\n", static_cast<unsigned long>(hr));
    return 1;
  }
  int result = 1;
  ICrypt* crypt = nullptr;
  hr = CoCreateInstance(CLSID_Crypt, nullptr, CLSCTX_INPROC_SERVER, IID_ICrypt,
                        reinterpret_cast<void**>(&crypt));
  if (SUCCEEDED(hr)) {
    result = Run(crypt);
    crypt->Release();
  } else {
    // REGDB_E_CLASSNOTREG (0x80040154): no Corvane.dll of this program's bitness is registered.
    std::printf("CoCreateInstance failed: HRESULT 0x%08lX\n", static_cast<unsigned long>(hr));
  }
  CoUninitialize();
  return result;
}
