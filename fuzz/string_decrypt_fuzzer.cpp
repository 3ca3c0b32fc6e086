// Arbitrary Base64 text and key through the string decryption path: a status or a
// NUL-terminated text inside its buffer, never a read or write outside it.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "crypt/status.h"
#include "crypt/string_cipher.h"
#include "fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace corvane;
  const fuzz::KeyAndData input = fuzz::SplitKey(data, size);
  CPemmet pemmet;
  if (pemmet.SmemCpyChar(pemmet.GetMyMemInPP(), static_cast<std::uint32_t>(input.size), input.data) < 0) return 0;
  unsigned char* text = nullptr;
  const std::int32_t status = DecryptFromBase64(pemmet, static_cast<std::uint32_t>(input.size),
                                                reinterpret_cast<const unsigned char*>(input.key.c_str()),
                                                static_cast<std::int32_t>(input.key.size()), &text);
  if (status < 0) {
    if (status != STATUS_BAD_BASE64 || text != nullptr) std::abort();
    return 0;
  }
  // The text ends within the buffer: at most the decoded bytes rounded up to a block.
  const std::size_t decodedAtMost = input.size / 4 * 3;
  if (std::strlen(reinterpret_cast<const char*>(text)) > (decodedAtMost + 7) / 8 * 8) std::abort();
  pemmet.Sfree(&text);
  return 0;
}
