// A console demonstration: keys a Crypt object, shows its status numbers, and
// encrypts a sample buffer with the Blowfish engine.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "common/com_holders.h"
#include "crypt/standalone_crypt.h"
#include "engine/blowfish_engine.h"

namespace {

void PrintHex(const char* label, const unsigned char* data, std::size_t n) {
  std::printf("%-22s", label);
  for (std::size_t i = 0; i < n; ++i) std::printf("%02X%s", data[i], i % 8 == 7 ? " " : "");
  std::printf("\n");
}

LONG StatusOf(ICrypt* crypt) {
  LONG status = 0;
  crypt->IsError(&status);
  return status;
}

}  // namespace

int main() {
  using corvane::BlowfishEngine;
  using corvane::ComPtr;
  using corvane::UniqueVariant;

  ComPtr<corvane::StandaloneCrypt> crypt(corvane::StandaloneCrypt::Create());
  if (!crypt) return 1;
  std::printf("new object               IsError = %ld\n", StatusOf(crypt.Get()));

  UniqueVariant key;
  V_VT(key.Get()) = VT_BSTR;
  V_BSTR(key.Get()) = SysAllocString(L"demo key");
  crypt->SetKey(*key.Get());
  std::printf("SetKey(\"demo key\")       IsError = %ld\n", StatusOf(crypt.Get()));

  VARIANT nothing;
  VariantInit(&nothing);
  V_VT(&nothing) = VT_NULL;
  crypt->SetKey(nothing);
  std::printf("SetKey(Null)             IsError = %ld (no key)\n", StatusOf(crypt.Get()));

  const char text[] = "Hello, Corvane!";
  const std::uint32_t n = sizeof text - 1;
  BlowfishEngine engine;
  if (!engine.IsAllocated()) return 1;
  engine.Initialize(reinterpret_cast<const unsigned char*>("demo key"), 8);
  std::vector<unsigned char> cipher(BlowfishEngine::GetOutputLength(n));
  engine.Encode(reinterpret_cast<const unsigned char*>(text), cipher.data(), n);
  std::vector<unsigned char> plain(cipher.size() + 1, 0);
  engine.Decode(cipher.data(), plain.data(), static_cast<std::uint32_t>(cipher.size()));

  std::printf("\nBlowfish ECB, key \"demo key\", zero padding to whole blocks:\n");
  PrintHex("plaintext", reinterpret_cast<const unsigned char*>(text), n);
  PrintHex("ciphertext", cipher.data(), cipher.size());
  std::printf("%-22s%s\n", "deciphered", reinterpret_cast<const char*>(plain.data()));
  return std::strcmp(text, reinterpret_cast<const char*>(plain.data())) == 0 ? 0 : 1;
}
