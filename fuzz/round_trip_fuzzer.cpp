// Any plaintext and key: encrypting then decrypting gives the plaintext up to its first
// zero byte, and the ciphertext text has the length the format says.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "crypt/status.h"
#include "crypt/string_cipher.h"
#include "fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace corvane;
  const fuzz::KeyAndData input = fuzz::SplitKey(data, size);
  const unsigned char* key = reinterpret_cast<const unsigned char*>(input.key.c_str());
  const std::int32_t keyLength = static_cast<std::int32_t>(input.key.size());

  CPemmet encoder;
  unsigned char* base64 = nullptr;
  if (EncryptToBase64(encoder, input.data, static_cast<std::uint32_t>(input.size), key, keyLength, &base64) != 0)
    std::abort();
  const std::size_t padded = (input.size + 7) / 8 * 8;
  const std::size_t textLength = std::strlen(reinterpret_cast<char*>(base64));
  if (textLength != (padded + 2) / 3 * 4) std::abort();

  CPemmet decoder;
  if (decoder.SmemCpyChar(decoder.GetMyMemInPP(), static_cast<std::uint32_t>(textLength), base64) != 0) std::abort();
  unsigned char* text = nullptr;
  if (DecryptFromBase64(decoder, static_cast<std::uint32_t>(textLength), key, keyLength, &text) != 0) std::abort();
  std::size_t expected = 0;
  while (expected < input.size && input.data[expected] != 0) ++expected;
  if (std::strlen(reinterpret_cast<char*>(text)) != expected || std::memcmp(text, input.data, expected) != 0)
    std::abort();
  encoder.Sfree(&base64);
  decoder.Sfree(&text);
  return 0;
}
