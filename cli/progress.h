// A progress bar on standard error for large files, drawn only on a terminal.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "crypt/stream_format.h"

namespace corvane::cli {

// Files from this size on (or streams of unknown size once they pass it) show a bar.
constexpr std::uint64_t kProgressThreshold = std::uint64_t{16} << 20;

class ProgressBar final : public StreamObserver {
 public:
  // total 0: unknown. Draws nothing unless enabled and standard error is a terminal.
  ProgressBar(const std::string& label, std::uint64_t total, bool enabled);
  ~ProgressBar();
  ProgressBar(const ProgressBar&) = delete;
  ProgressBar& operator=(const ProgressBar&) = delete;

  // Stops the stream (returns false) when the user interrupts.
  bool Progress(std::uint64_t done) override;

  // Removes the bar being drawn, if any, so that a message starts on a clean line.
  static void ClearActive();

 private:
  void Draw(std::uint64_t done);
  void Clear();

  std::string label_;
  std::uint64_t total_;
  bool enabled_;
  std::size_t drawnWidth_ = 0;
  std::chrono::steady_clock::time_point lastDraw_;
  static ProgressBar* active_;
};

}  // namespace corvane::cli
