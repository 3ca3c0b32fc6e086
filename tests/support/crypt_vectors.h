// The buffer vectors seen as the component's two formats: Base64 text and .bf files.
#pragma once

#include <string>

#include "tests/support/vector_files.h"

namespace corvane::test {

inline std::string Base64(const Bytes& bytes) {
  static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  std::size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const unsigned v = bytes[i] << 16 | bytes[i + 1] << 8 | bytes[i + 2];
    for (int s = 18; s >= 0; s -= 6) out += alphabet[(v >> s) & 63];
  }
  if (bytes.size() - i == 1) {
    const unsigned v = bytes[i] << 16;
    out += std::string{alphabet[v >> 18], alphabet[(v >> 12) & 63], '=', '='};
  } else if (bytes.size() - i == 2) {
    const unsigned v = bytes[i] << 16 | bytes[i + 1] << 8;
    out += std::string{alphabet[v >> 18], alphabet[(v >> 12) & 63], alphabet[(v >> 6) & 63], '='};
  }
  return out;
}

// An encrypted file: the plaintext length as a little-endian 32-bit header, then the ciphertext.
inline Bytes EncryptedFile(std::uint32_t plaintextLength, const Bytes& ciphertext) {
  Bytes file;
  for (int i = 0; i < 4; ++i) file.push_back(static_cast<unsigned char>(plaintextLength >> (8 * i)));
  file.insert(file.end(), ciphertext.begin(), ciphertext.end());
  return file;
}

// The plaintext as text: up to its first zero byte.
inline std::string AsText(const Bytes& plaintext) {
  std::string text(plaintext.begin(), plaintext.end());
  return text.substr(0, text.find('\0'));
}

}  // namespace corvane::test
