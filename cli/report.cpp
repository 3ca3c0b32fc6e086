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
  const std::uint64_t toStdout = BytesToStdout();
  WriteDisplay(StdStream::kErr, "corvane: interrupted; no output file was changed" +
                                    (toStdout == 0 ? std::string()
                                                   : "; " + std::to_string(toStdout) +
                                                         " bytes had gone to standard output") +
                                    "\n");
  return kExitInterrupted;
}

void Warn(const std::string& text) {
  ProgressBar::ClearActive();
  WriteDisplay(StdStream::kErr, "corvane: warning: " + text + "\n");
}

std::string DescribeProblem(FileProblem problem, std::uint32_t systemError) {
  switch (problem) {
    case FileProblem::kNotFound:
      return "no such file";
    case FileProblem::kFolder:
      return "it is a folder";
    case FileProblem::kNotRegular:
      return "it is not a regular file but a device, a FIFO or a socket";
    case FileProblem::kNoAccess:
      return "permission denied";
    case FileProblem::kReadOnly:
      return "it is read-only";
    case FileProblem::kReadOnlyFileSystem:
      return "the file system is read-only";
    case FileProblem::kSymbolicLink:
      return "it is a symbolic link (name the file it points to instead)";
    case FileProblem::kInUse:
      return "another program has it open and does not share it";
    case FileProblem::kNoSpace:
      return "no space left on the device";
    case FileProblem::kNameTooLong:
      return "the name is too long for the file system";
    case FileProblem::kBadName:
      return "it is not a valid file name";
    default:
      return systemError != 0 ? SystemErrorText(systemError) : std::string("an error of the system");
  }
}

}  // namespace corvane::cli
