#include "cli/progress.h"

#include <cstdio>

#include "cli/platform.h"

namespace corvane::cli {

ProgressBar* ProgressBar::active_ = nullptr;

namespace {

constexpr std::size_t kLabelWidth = 32;
constexpr int kBarWidth = 24;

// The end of a long label, cut at a character boundary.
std::string ShortLabel(const std::string& label) {
  if (label.size() <= kLabelWidth) return label;
  std::size_t start = label.size() - (kLabelWidth - 3);
  while (start < label.size() && (static_cast<unsigned char>(label[start]) & 0xC0) == 0x80) ++start;
  return "..." + label.substr(start);
}

std::string Mebibytes(std::uint64_t bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", static_cast<double>(bytes) / (1024.0 * 1024.0));
  return text;
}

}  // namespace

ProgressBar::ProgressBar(const std::string& label, std::uint64_t total, bool enabled)
    : label_(ShortLabel(label)), total_(total), enabled_(enabled && IsTerminal(StdStream::kErr)) {
  if (total_ != 0 && total_ < kProgressThreshold) enabled_ = false;
}

ProgressBar::~ProgressBar() { Clear(); }

bool ProgressBar::Progress(std::uint64_t done) {
  if (Interrupted()) return false;
  if (!enabled_ || (total_ == 0 && done < kProgressThreshold)) return true;
  const auto now = std::chrono::steady_clock::now();
  if (drawnWidth_ != 0 && now - lastDraw_ < std::chrono::milliseconds(100)) return true;
  lastDraw_ = now;
  Draw(done);
  return true;
}

void ProgressBar::Draw(std::uint64_t done) {
  std::string line = label_ + " ";
  if (total_ != 0) {
    const std::uint64_t shown = done < total_ ? done : total_;
    const int filled = static_cast<int>(shown * kBarWidth / total_);
    line += "[" + std::string(static_cast<std::size_t>(filled), '#') +
            std::string(static_cast<std::size_t>(kBarWidth - filled), '-') + "] ";
    line += std::to_string(shown * 100 / total_) + "%  " + Mebibytes(shown) + " / " + Mebibytes(total_) + " MiB";
  } else {
    line += Mebibytes(done) + " MiB";
  }
  std::string text = "\r" + line;
  if (line.size() < drawnWidth_) text += std::string(drawnWidth_ - line.size(), ' ');
  WriteDisplay(StdStream::kErr, text);
  drawnWidth_ = line.size() > drawnWidth_ ? line.size() : drawnWidth_;
  active_ = this;
}

void ProgressBar::Clear() {
  if (drawnWidth_ != 0) WriteDisplay(StdStream::kErr, "\r" + std::string(drawnWidth_, ' ') + "\r");
  drawnWidth_ = 0;
  if (active_ == this) active_ = nullptr;
}

void ProgressBar::ClearActive() {
  if (active_ != nullptr) active_->Clear();
}

}  // namespace corvane::cli
