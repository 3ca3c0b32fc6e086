// The command line: subcommands, options, operands, and the help texts.
#pragma once

#include <string>
#include <vector>

#include "cli/platform.h"

namespace corvane::cli {

enum class Command { kNone, kEncryptText, kDecryptText, kEncryptFile, kDecryptFile, kInspect };

struct Operand {
  NativeView value;
  bool isStdin = false;  // "-" before "--"
};

struct Options {
  Command command = Command::kNone;
  bool help = false;
  bool version = false;
  std::vector<Operand> operands;
  const NativeChar* keyFile = nullptr;
  NativeChar* keyArgument = nullptr;  // writable, so that it can be scrubbed once read
  const NativeChar* encoding = nullptr;
  const NativeChar* output = nullptr;
  bool quiet = false;
  bool json = false;
};

// Fills *options from argv (which must outlive it). Returns "" or the reason the
// command line is not usable.
std::string ParseArguments(int argc, NativeChar** argv, Options* options);

// The help text of a subcommand, or the general one for Command::kNone.
std::string HelpText(Command command);
std::string VersionText();
const char* CommandName(Command command);

}  // namespace corvane::cli
