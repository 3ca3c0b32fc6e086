// Unicode text between the forms the tool reads and writes it in: UTF-8, UTF-16 (key
// files with a byte-order mark) and JSON strings (one text a line). Text is held as
// code points; a lone surrogate, which Windows strings may hold, is kept as its own code
// point, so that UTF-16 text passes through JSON unchanged.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "common/secure_buffer.h"

namespace corvane::cli {

using UnicodeText = std::vector<char32_t, WipingAllocator<char32_t>>;

// Strict UTF-8 (no overlong forms, no surrogates). False when the bytes are not that.
bool DecodeUtf8(const unsigned char* bytes, std::size_t n, UnicodeText* text);
// False when the text holds a lone surrogate, which UTF-8 cannot carry.
bool EncodeUtf8(const UnicodeText& text, SecureBytes* bytes);

// UTF-16 in either byte order; pairs are joined, a lone surrogate is an error.
bool DecodeUtf16(const unsigned char* bytes, std::size_t n, bool bigEndian, UnicodeText* text);

// One JSON string (RFC 8259), with white space around it allowed, as the whole of a line.
bool ParseJsonString(const unsigned char* line, std::size_t n, UnicodeText* text);
// The text as a JSON string: quotes, backslashes and control characters escaped, lone
// surrogates as \u escapes, everything else as UTF-8.
void AppendJsonString(const UnicodeText& text, SecureBytes* out);

}  // namespace corvane::cli
