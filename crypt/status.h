// Status numbers that Crypt leaves for IsError, and the helper classes' failure codes.
#pragma once

#include <cstdint>

namespace corvane {

// The object's own statuses.
constexpr std::int32_t STATUS_OK = 0;
constexpr std::int32_t STATUS_BUSY = -1;          // set while an operation runs
constexpr std::int32_t STATUS_NO_KEY = -200;      // no key, an empty key, or a failed SetKey
constexpr std::int32_t STATUS_SHORT_FILE = -202;  // ciphertext shorter than its header states

// Failures of the helper classes, passed on unchanged.
constexpr std::int32_t STATUS_NO_TEXT_FORM = -101;        // value has no text form
constexpr std::int32_t STATUS_NOT_IN_CODE_PAGE = -102;    // character not in the ANSI code page
constexpr std::int32_t STATUS_OUT_OF_MEMORY = -103;
constexpr std::int32_t STATUS_CANNOT_OPEN_INPUT = -104;   // missing, a folder, no access
constexpr std::int32_t STATUS_CANNOT_READ_INPUT = -105;   // read error, or too large for the format
constexpr std::int32_t STATUS_CANNOT_WRITE_OUTPUT = -106;
constexpr std::int32_t STATUS_BAD_BASE64 = -107;

}  // namespace corvane
