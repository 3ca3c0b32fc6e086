// The ciphertext-text half of stream_format.h: enCrypt's and deCrypt's texts for programs
// that keep the C++ runtime (the tool). The file half is in stream_format.cpp, shared
// with the DLL.
#include <algorithm>

#include "base64.h"
#include "stream_format.h"

namespace corvane {

TextStatus EncryptTextToBase64(const BlowfishEngine& engine, const unsigned char* text, std::size_t n,
                               std::string* base64) {
  if (n > kMaxTextBytes) return TextStatus::kTooLong;
  const std::uint32_t length = static_cast<std::uint32_t>(n);
  SecureBytes ciphertext(BlowfishEngine::GetOutputLength(length));
  if (length != 0) engine.Encode(text, ciphertext.data(), length);
  base64->assign(base64::EncodedLength(ciphertext.size()), '\0');
  if (!ciphertext.empty()) base64::Encode(ciphertext.data(), ciphertext.size(), &(*base64)[0]);
  return TextStatus::kOk;
}

TextStatus DecryptBase64ToText(const BlowfishEngine& engine, const char* base64, std::size_t n, SecureBytes* text) {
  text->clear();
  SecureBytes ciphertext(base64::MaxDecodedLength(n) + 1);
  std::size_t decoded = 0;
  if (n != 0 && !base64::Decode(base64, n, ciphertext.data(), &decoded)) return TextStatus::kBadBase64;
  if (decoded > kMaxTextBytes) return TextStatus::kTooLong;
  const std::uint32_t d = static_cast<std::uint32_t>(decoded);
  // Zero-filled, with a zero byte after the last block: the text always ends.
  SecureBytes plaintext(std::size_t{BlowfishEngine::GetOutputLength(d)} + 1, 0);
  if (d != 0) engine.Decode(ciphertext.data(), plaintext.data(), d);
  const auto end = std::find(plaintext.begin(), plaintext.end(), 0);
  text->assign(plaintext.begin(), end);
  return TextStatus::kOk;
}

}  // namespace corvane
