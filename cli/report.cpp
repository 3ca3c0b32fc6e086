#include "cli/report.h"

#include "cli/platform.h"
#include "cli/progress.h"

namespace corvane::cli {

int Report(ExitCode code, const std::string& where, const std::string& cause) {
  if (Interrupted() && code != kExitUsage) return ReportInterrupted();
  ProgressBar::ClearActive();
  WriteDisplay(StdStream::kErr, "corvane: " + (where.empty() ? std::string() : where + ": ") + cause + "\n");
  return code;
}

int ReportInterrupted() {
  ProgressBar::ClearActive();
  WriteDisplay(StdStream::kErr, "corvane: interrupted; no output file was changed\n");
  return kExitInterrupted;
}

void Warn(const std::string& text) {
  ProgressBar::ClearActive();
  WriteDisplay(StdStream::kErr, "corvane: warning: " + text + "\n");
}

}  // namespace corvane::cli
