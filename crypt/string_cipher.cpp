#include "string_cipher.h"

#include "engine/blowfish_engine.h"
#include "status.h"

namespace corvane {

std::int32_t EncryptToBase64(CPemmet& pemmet, const unsigned char* plaintext, std::uint32_t r,
                             const unsigned char* key, std::int32_t keyLength, unsigned char** base64Text) {
  BlowfishEngine engine;
  if (!engine.IsAllocated()) return STATUS_OUT_OF_MEMORY;
  if (!engine.Initialize(key, keyLength)) return STATUS_NO_KEY;  // nothing may be enciphered without a key
  const std::uint32_t padded = BlowfishEngine::GetOutputLength(r);
  if (padded < r) return STATUS_OUT_OF_MEMORY;  // no whole number of blocks fits 32 bits
  std::int32_t status = pemmet.Smalloc(pemmet.GetMyMemInPP(), padded);
  if (status < 0) return status;

  engine.Encode(plaintext, pemmet.GetMyMemInP(), r);

  const std::int32_t m = pemmet.SInBase64Main(CPemmet::kEncode, padded, 0);
  if (m < 0) return m;
  return pemmet.SmemCpyChar(base64Text, static_cast<std::uint32_t>(m), pemmet.GetMyMemOutP());
}

std::int32_t DecryptFromBase64(CPemmet& pemmet, std::uint32_t r, const unsigned char* key, std::int32_t keyLength,
                               unsigned char** text) {
  BlowfishEngine engine;
  if (!engine.IsAllocated()) return STATUS_OUT_OF_MEMORY;
  if (!engine.Initialize(key, keyLength)) return STATUS_NO_KEY;
  const std::int32_t d = pemmet.SInBase64Main(CPemmet::kDecode, r, 0);
  if (d < 0) return d;

  // d + 8 characters: room for a completed partial block and a terminator after it.
  unsigned char* result = nullptr;
  const std::int32_t status = pemmet.SmallocChar(&result, static_cast<std::uint32_t>(d) + 8);
  if (status < 0) return status;

  engine.Decode(pemmet.GetMyMemOutP(), result, static_cast<std::uint32_t>(d));
  *text = result;
  return STATUS_OK;
}

}  // namespace corvane
