#include "cli/line_reader.h"

#include <algorithm>

namespace corvane::cli {

LineReader::LineReader(ByteReader& in, std::size_t maxLength)
    : in_(in), maxLength_(maxLength), buffer_(std::size_t{1} << 16) {}

bool LineReader::Refill() {
  start_ = end_ = 0;
  std::size_t got = 0;
  if (in_.Read(buffer_.data(), buffer_.size(), &got) != FileStatus::Ok) {
    failed_ = true;
    return false;
  }
  if (got == 0) atEnd_ = true;
  end_ = got;
  return got != 0;
}

LineReader::Result LineReader::Next(SecureBytes* line) {
  line->clear();
  bool any = false;
  for (;;) {
    if (start_ == end_) {
      if (failed_) return Result::kCannotRead;
      if (atEnd_ || !Refill()) {
        if (failed_) return Result::kCannotRead;
        if (!any) return Result::kEnd;
        break;
      }
    }
    any = true;
    const auto begin = buffer_.begin() + static_cast<std::ptrdiff_t>(start_);
    const auto stop = buffer_.begin() + static_cast<std::ptrdiff_t>(end_);
    const auto newline = std::find(begin, stop, '\n');
    line->insert(line->end(), begin, newline);
    if (line->size() > maxLength_) return Result::kTooLong;
    if (newline != stop) {
      start_ = static_cast<std::size_t>(newline - buffer_.begin()) + 1;
      break;
    }
    start_ = end_;
  }
  if (!line->empty() && line->back() == '\r') line->pop_back();
  return Result::kLine;
}

}  // namespace corvane::cli
