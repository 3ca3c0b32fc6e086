// The command line: subcommands, options, operands, and the help texts.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "cli/platform.h"

namespace corvane::cli {

enum class Command { kNone, kEncryptText, kDecryptText, kEncryptFile, kDecryptFile, kInspect };

struct Operand {
  NativeString value;
  bool isStdin = false;  // "-" before "--"
};

struct Options {
  Command command = Command::kNone;
  bool help = false;
  bool version = false;
  std::vector<Operand> operands;
  std::optional<NativeString> keyFile;
  NativeChar* keyArgument = nullptr;  // in argv, writable, so that it can be scrubbed once read
  std::optional<NativeString> encoding;
  std::optional<NativeString> output;
  bool quiet = false;
  bool json = false;  // inspect: JSON objects; text subcommands: JSON strings in and out
};

// Fills *options from argv (which must outlive it: the --key text stays there). Returns
// "" or the reason the command line is not usable.
std::string ParseArguments(int argc, NativeChar** argv, Options* options);

// The help text of a subcommand, or the general one for Command::kNone.
std::string HelpText(Command command);
std::string VersionText();
const char* CommandName(Command command);

}  // namespace corvane::cli
