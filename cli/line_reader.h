// Lines of a byte stream: split at LF, a CR before the LF dropped.
#pragma once

#include <cstddef>

#include "common/secure_buffer.h"
#include "crypt/stream_format.h"

namespace corvane::cli {

class LineReader {
 public:
  enum class Result { kLine, kEnd, kCannotRead, kTooLong };

  LineReader(ByteReader& in, std::size_t maxLength);
  // The next line without its line end. A last line without LF counts; an input
  // that ends with LF has no empty line after it.
  Result Next(SecureBytes* line);

 private:
  bool Refill();

  ByteReader& in_;
  std::size_t maxLength_;
  SecureBytes buffer_;
  std::size_t start_ = 0, end_ = 0;
  bool atEnd_ = false;
  bool failed_ = false;
};

}  // namespace corvane::cli
