// RFC 4648 Base64, standard alphabet with '=' padding and no line breaks.
#pragma once

#include <cstddef>

namespace corvane {
namespace base64 {

// Characters that Encode writes for n bytes.
constexpr std::size_t EncodedLength(std::size_t n) { return (n + 2) / 3 * 4; }

// Largest number of bytes that Decode can produce from `length` characters.
constexpr std::size_t MaxDecodedLength(std::size_t length) { return length / 4 * 3; }

// Writes EncodedLength(n) characters, without a terminator.
void Encode(const unsigned char* input, std::size_t n, char* output);

// Decodes `length` characters into `output` (room for MaxDecodedLength(length) bytes).
// ASCII white space is skipped anywhere. Fails on any other character outside the
// alphabet, on misplaced padding, or when the characters do not form whole groups of
// four. On failure the output may hold partial data and *decoded is 0.
bool Decode(const char* text, std::size_t length, unsigned char* output, std::size_t* decoded);

}  // namespace base64
}  // namespace corvane
