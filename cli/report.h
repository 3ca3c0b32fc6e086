// Error lines on standard error: "corvane: WHERE: CAUSE", one per error.
#pragma once

#include <string>

#include "cli/exit_codes.h"
#include "crypt/replace_rules.h"

namespace corvane::cli {

// Writes the line (clearing a progress bar first) and returns code. An interruption
// that caused the failure is reported as such instead.
int Report(ExitCode code, const std::string& where, const std::string& cause);
int ReportInterrupted();
void Warn(const std::string& text);

// A file problem in words, for the end of a message ("no such file", "it is a folder").
std::string DescribeProblem(FileProblem problem, std::uint32_t systemError);

}  // namespace corvane::cli
