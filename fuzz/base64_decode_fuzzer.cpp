// Any text into the Base64 decoder: it either fails cleanly or decodes, and whatever it
// decodes encodes back to the same characters once white space is removed.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "crypt/base64.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace corvane;
  const char* text = reinterpret_cast<const char*>(data);
  std::vector<unsigned char> out(base64::MaxDecodedLength(size));
  std::size_t decoded = 0;
  if (!base64::Decode(text, size, out.data(), &decoded)) return 0;
  if (decoded > out.size()) std::abort();

  std::string again(base64::EncodedLength(decoded), '\0');
  base64::Encode(out.data(), decoded, again.data());
  std::string significant;
  for (std::size_t i = 0; i < size; ++i)
    if (text[i] != ' ' && text[i] != '\t' && text[i] != '\r' && text[i] != '\n' && text[i] != '\v' && text[i] != '\f')
      significant += text[i];
  // Equal up to the padding bits, which the decoder ignores: compare the bytes instead.
  std::vector<unsigned char> back(base64::MaxDecodedLength(again.size()));
  std::size_t backLength = 0;
  if (!base64::Decode(again.data(), again.size(), back.data(), &backLength) || backLength != decoded) std::abort();
  for (std::size_t i = 0; i < decoded; ++i)
    if (back[i] != out[i]) std::abort();
  if (significant.size() != again.size()) std::abort();
  return 0;
}
