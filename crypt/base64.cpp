#include "base64.h"

#include <cstdint>

namespace corvane {
namespace base64 {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr std::uint8_t kInvalid = 0xFF;
constexpr std::uint8_t kSpace = 0xFE;
constexpr std::uint8_t kPad = 0xFD;

struct DecodeTable {
  std::uint8_t value[256];
  constexpr DecodeTable() : value() {
    for (int i = 0; i < 256; ++i) value[i] = kInvalid;
    for (int i = 0; i < 64; ++i) value[static_cast<unsigned char>(kAlphabet[i])] = static_cast<std::uint8_t>(i);
    value[static_cast<unsigned char>('=')] = kPad;
    constexpr char kWhiteSpace[] = " \t\r\n\v\f";
    for (int i = 0; kWhiteSpace[i] != '\0'; ++i) value[static_cast<unsigned char>(kWhiteSpace[i])] = kSpace;
  }
};

constexpr DecodeTable kDecode;

}  // namespace

void Encode(const unsigned char* input, std::size_t n, char* output) {
  std::size_t i = 0;
  for (; i + 3 <= n; i += 3) {
    const std::uint32_t v = static_cast<std::uint32_t>(input[i]) << 16 |
                            static_cast<std::uint32_t>(input[i + 1]) << 8 | input[i + 2];
    *output++ = kAlphabet[v >> 18];
    *output++ = kAlphabet[(v >> 12) & 63];
    *output++ = kAlphabet[(v >> 6) & 63];
    *output++ = kAlphabet[v & 63];
  }
  const std::size_t rest = n - i;
  if (rest == 0) return;
  std::uint32_t v = static_cast<std::uint32_t>(input[i]) << 16;
  if (rest == 2) v |= static_cast<std::uint32_t>(input[i + 1]) << 8;
  *output++ = kAlphabet[v >> 18];
  *output++ = kAlphabet[(v >> 12) & 63];
  *output++ = rest == 2 ? kAlphabet[(v >> 6) & 63] : '=';
  *output++ = '=';
}

bool Decode(const char* text, std::size_t length, unsigned char* output, std::size_t* decoded) {
  *decoded = 0;
  std::size_t written = 0;
  std::uint32_t group = 0;
  int inGroup = 0;   // characters of the current group of four seen so far
  int padding = 0;   // '=' seen; only white space and more '=' may follow
  for (std::size_t i = 0; i < length; ++i) {
    const std::uint8_t v = kDecode.value[static_cast<unsigned char>(text[i])];
    if (v == kSpace) continue;
    if (v == kInvalid) return false;
    if (v == kPad) {
      // Padding completes a group that holds two or three data characters.
      if (inGroup + padding < 2 || inGroup + padding > 3) return false;
      ++padding;
      if (inGroup + padding == 4) inGroup = 4;
      continue;
    }
    if (padding != 0 || inGroup == 4) return false;  // data after the padding
    group = group << 6 | v;
    if (++inGroup == 4) {
      output[written++] = static_cast<unsigned char>(group >> 16);
      output[written++] = static_cast<unsigned char>(group >> 8);
      output[written++] = static_cast<unsigned char>(group);
      group = 0;
      inGroup = 0;
    }
  }
  if (padding != 0) {
    if (inGroup != 4) return false;  // a group left open after '='
    // Two data characters carry one byte, three carry two; the padding stands for the rest.
    const int dataCharacters = 4 - padding;
    group <<= 6 * padding;
    output[written++] = static_cast<unsigned char>(group >> 16);
    if (dataCharacters == 3) output[written++] = static_cast<unsigned char>(group >> 8);
  } else if (inGroup != 0) {
    return false;  // characters that do not fill a group of four
  }
  *decoded = written;
  return true;
}

}  // namespace base64
}  // namespace corvane
