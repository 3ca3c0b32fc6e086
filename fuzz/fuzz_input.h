// Splits a fuzzer's input into a key and the rest.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace corvane::fuzz {

struct KeyAndData {
  std::string key;  // 1 to 80 bytes, never empty: an empty key is refused before the engine
  const std::uint8_t* data;
  std::size_t size;
};

// The first byte gives the key length (1..80), the next bytes the key, the rest the data.
inline KeyAndData SplitKey(const std::uint8_t* data, std::size_t size) {
  KeyAndData out{"k", data, size};
  if (size == 0) return out;
  std::size_t keyLength = 1 + data[0] % 80;
  if (keyLength > size - 1) keyLength = size - 1;
  if (keyLength != 0) out.key.assign(reinterpret_cast<const char*>(data + 1), keyLength);
  if (out.key.find('\0') != std::string::npos) out.key.resize(out.key.find('\0'));
  if (out.key.empty()) out.key = "k";
  out.data = data + 1 + keyLength;
  out.size = size - 1 - keyLength;
  return out;
}

}  // namespace corvane::fuzz
