#include "cli/options.h"

#include <cstring>

namespace corvane::cli {
namespace {

#ifdef _WIN32
constexpr const char* kDefaultEncoding = "the ANSI code page, as the component uses";
#else
constexpr const char* kDefaultEncoding = "none: the bytes as given";
#endif

// Whether a native argument equals an ASCII literal.
bool Is(NativeView argument, const char* literal) {
  const std::size_t n = std::strlen(literal);
  if (argument.size() != n) return false;
  for (std::size_t i = 0; i < n; ++i)
    if (argument[i] != static_cast<NativeChar>(static_cast<unsigned char>(literal[i]))) return false;
  return true;
}

bool StartsWith(NativeView argument, const char* literal) {
  const std::size_t n = std::strlen(literal);
  return argument.size() >= n && Is(argument.substr(0, n), literal);
}

struct OptionForm {
  const char* shortName;  // "-k" or null
  const char* longName;   // "--key-file"
  bool takesValue;
};

enum OptionId { kKeyFile, kKey, kEncoding, kOutput, kQuiet, kJson, kHelp, kOptionCount };

constexpr OptionForm kOptionForms[kOptionCount] = {
    {"-k", "--key-file", true}, {nullptr, "--key", true},  {"-e", "--encoding", true}, {"-o", "--output", true},
    {"-q", "--quiet", false},   {nullptr, "--json", false}, {"-h", "--help", false},
};

bool Allowed(Command command, OptionId id) {
  switch (id) {
    case kHelp:
      return true;
    case kJson:
      return command == Command::kInspect;
    case kOutput:
    case kQuiet:
      return command == Command::kEncryptFile || command == Command::kDecryptFile;
    default:
      return command != Command::kInspect;
  }
}

std::string SeeHelp(Command command) {
  return std::string("; see 'corvane ") + (command == Command::kNone ? "" : CommandName(command)) +
         (command == Command::kNone ? "--help'" : " --help'");
}

Command CommandFromName(NativeView name) {
  if (Is(name, "encrypt-text")) return Command::kEncryptText;
  if (Is(name, "decrypt-text")) return Command::kDecryptText;
  if (Is(name, "encrypt-file")) return Command::kEncryptFile;
  if (Is(name, "decrypt-file")) return Command::kDecryptFile;
  if (Is(name, "inspect")) return Command::kInspect;
  return Command::kNone;
}

// Stores one option's value; "" or the reason it cannot be taken.
std::string Store(OptionId id, NativeChar* value, Options* options, const char* shown) {
  const NativeChar** slot = nullptr;
  switch (id) {
    case kKeyFile:
      slot = &options->keyFile;
      break;
    case kEncoding:
      slot = &options->encoding;
      break;
    case kOutput:
      slot = &options->output;
      break;
    case kKey:
      if (options->keyArgument != nullptr) return std::string(shown) + " is given twice";
      options->keyArgument = value;
      return "";
    case kQuiet:
      options->quiet = true;
      return "";
    case kJson:
      options->json = true;
      return "";
    case kHelp:
      options->help = true;
      return "";
    default:
      return "";
  }
  if (*slot != nullptr) return std::string(shown) + " is given twice";
  if (value[0] == 0) return std::string(shown) + " needs a value that is not empty";
  *slot = value;
  return "";
}

}  // namespace

const char* CommandName(Command command) {
  switch (command) {
    case Command::kEncryptText:
      return "encrypt-text";
    case Command::kDecryptText:
      return "decrypt-text";
    case Command::kEncryptFile:
      return "encrypt-file";
    case Command::kDecryptFile:
      return "decrypt-file";
    case Command::kInspect:
      return "inspect";
    default:
      return "";
  }
}

std::string ParseArguments(int argc, NativeChar** argv, Options* options) {
  *options = Options();
  if (argc < 2) return "no subcommand given" + SeeHelp(Command::kNone);
  const NativeView first(argv[1]);
  if (Is(first, "--help") || Is(first, "-h")) {
    options->help = true;
    if (argc > 2) return "--help takes no arguments here; use 'corvane SUBCOMMAND --help'";
    return "";
  }
  if (Is(first, "--version")) {
    options->version = true;
    if (argc > 2) return "--version takes no arguments";
    return "";
  }
  if (Is(first, "help")) {
    options->help = true;
    if (argc > 3) return "help takes one subcommand at most";
    if (argc == 3) {
      options->command = CommandFromName(argv[2]);
      if (options->command == Command::kNone)
        return "unknown subcommand '" + Display(argv[2]) + "'" + SeeHelp(Command::kNone);
    }
    return "";
  }
  options->command = CommandFromName(first);
  if (options->command == Command::kNone) {
    if (first.size() > 1 && first[0] == '-')
      return "options come after the subcommand: '" + Display(first) + "'" + SeeHelp(Command::kNone);
    return "unknown subcommand '" + Display(first) + "'" + SeeHelp(Command::kNone);
  }
  const Command command = options->command;

  bool endOfOptions = false;
  for (int i = 2; i < argc; ++i) {
    NativeChar* argument = argv[i];
    const NativeView view(argument);
    if (endOfOptions || view.size() < 2 || view[0] != '-') {
      options->operands.push_back({view, !endOfOptions && Is(view, "-")});
      continue;
    }
    if (Is(view, "--")) {
      endOfOptions = true;
      continue;
    }
    // --name, --name=value, -x, -xVALUE
    int found = -1;
    NativeChar* attached = nullptr;
    std::string shown;
    for (int id = 0; id < kOptionCount && found < 0; ++id) {
      const OptionForm& form = kOptionForms[id];
      const std::size_t longLength = std::strlen(form.longName);
      if (Is(view, form.longName)) {
        found = id;
        shown = form.longName;
      } else if (form.takesValue && StartsWith(view, form.longName) && view[longLength] == '=') {
        found = id;
        shown = form.longName;
        attached = argument + longLength + 1;
      } else if (form.shortName != nullptr && StartsWith(view, form.shortName)) {
        if (view.size() == 2) {
          found = id;
        } else if (form.takesValue) {
          found = id;
          attached = argument + 2;
        } else {
          continue;
        }
        shown = form.shortName;
      }
    }
    if (found < 0) {
      std::string name = Display(view);
      const std::size_t equals = name.find('=');
      if (StartsWith(view, "--") && equals != std::string::npos) name.resize(equals);
      return "unknown option '" + name + "'" + SeeHelp(command);
    }
    const OptionId id = static_cast<OptionId>(found);
    if (!Allowed(command, id)) {
      if (command == Command::kInspect) return shown + " does not apply to inspect, which needs no key" + SeeHelp(command);
      return shown + " does not apply to " + CommandName(command) + SeeHelp(command);
    }
    if (!kOptionForms[id].takesValue && attached != nullptr) return shown + " takes no value";
    NativeChar* value = attached;
    if (kOptionForms[id].takesValue && value == nullptr) {
      if (i + 1 >= argc) return shown + " needs a value" + SeeHelp(command);
      value = argv[++i];
    }
    const std::string problem = Store(id, value, options, shown.c_str());
    if (!problem.empty()) return problem;
  }
  if (options->help) return "";

  if (options->keyFile != nullptr && options->keyArgument != nullptr)
    return "give the key once: --key-file or --key, not both";
  std::size_t stdinCount = 0;
  for (const Operand& operand : options->operands) stdinCount += operand.isStdin ? 1 : 0;
  if (stdinCount > 1) return "standard input ('-') can be read only once";

  const bool fileCommand = command == Command::kEncryptFile || command == Command::kDecryptFile;
  if ((fileCommand || command == Command::kInspect) && options->operands.empty())
    return std::string(CommandName(command)) + " needs a FILE (- for standard input)" + SeeHelp(command);
  if (fileCommand && options->output != nullptr && options->operands.size() > 1)
    return "--output names one output file, but " + std::to_string(options->operands.size()) + " files are given";
  return "";
}

std::string VersionText() { return std::string("corvane ") + CORVANE_VERSION + "\n"; }

std::string HelpText(Command command) {
  static const std::string kKeyOptions =
      "  -k, --key-file FILE   the key is the first line of FILE (its bytes up to the line end)\n"
      "      --key TEXT        the key on the command line, where other users and the shell\n"
      "                        history can see it (a warning says so)\n"
      "  -e, --encoding NAME   character set of the key and the text inside the ciphertext, for\n"
      "                        example windows-1252, cp932, utf-8; default: " +
      std::string(kDefaultEncoding) +
      "\n"
      "  -h, --help            this help\n"
      "Without --key-file or --key the key is the environment variable CORVANE_KEY; without\n"
      "that, it is asked for on the terminal without echo (twice when encrypting).\n";

  switch (command) {
    case Command::kEncryptText:
      return "Usage: corvane encrypt-text [OPTIONS] [TEXT...]\n"
             "\n"
             "Encrypts each TEXT, or each line of standard input when no TEXT is given (or for\n"
             "a TEXT of '-'), and writes its Base64 ciphertext text on a line of its own, the\n"
             "same text as the component's enCrypt. A line end is LF or CR LF; an empty line gives\n"
             "an empty line. It stops at the first text that fails.\n"
             "\n" +
             kKeyOptions;
    case Command::kDecryptText:
      return "Usage: corvane decrypt-text [OPTIONS] [BASE64...]\n"
             "\n"
             "Decrypts each Base64 ciphertext text, or each line of standard input when none is\n"
             "given (or for '-'), and writes the text on a line of its own: the deciphered bytes\n"
             "up to the first zero byte, as the component's deCrypt. A wrong key is not detected;\n"
             "it gives other text. It stops at the first text that fails.\n"
             "\n" +
             kKeyOptions;
    case Command::kEncryptFile:
      return "Usage: corvane encrypt-file [OPTIONS] FILE... [-o OUTPUT]\n"
             "\n"
             "Encrypts each FILE into FILE.bf (the component's FileEnCrypt format: a 4-byte length\n"
             "header, then the ciphertext). FILE '-' reads standard input and writes standard\n"
             "output. Files of any size stream through a fixed amount of memory; the output is\n"
             "written to a temporary file beside it, flushed to the disk and moved into place\n"
             "when complete; a replaced file keeps its permissions. A read-only file, a folder\n"
             "or a symbolic link at the output path is left alone, and so is the input itself\n"
             "named as the output (exit code 6). An input that grows while it is read fails\n"
             "(exit code 5). The largest plaintext is 4 GiB - 1 bytes, the most the length\n"
             "header can state. It stops at the first file that fails.\n"
             "\n"
             "  -o, --output OUTPUT   the output file instead of FILE.bf (one FILE only); '-' for\n"
             "                        standard output (never a terminal)\n"
             "  -q, --quiet           no progress bar (shown on a terminal for large files)\n" +
             kKeyOptions +
             "The encoding applies to the key only: file contents are never converted.\n";
    case Command::kDecryptFile:
      return "Usage: corvane decrypt-file [OPTIONS] FILE... [-o OUTPUT]\n"
             "\n"
             "Decrypts each encrypted FILE into FILE.bf, the name the component's FileDeCrypt\n"
             "gives (a.txt.bf decrypts to a.txt.bf.bf); use -o to choose. The output holds\n"
             "exactly the length the header states. A file shorter than its header states is\n"
             "refused and nothing is written (exit code 8). FILE '-' reads standard input and\n"
             "writes standard output; there, a short input is noticed only at its end. Output\n"
             "files are replaced as by encrypt-file. It stops at the first file that fails.\n"
             "\n"
             "  -o, --output OUTPUT   the output file instead of FILE.bf (one FILE only); '-' for\n"
             "                        standard output\n"
             "  -q, --quiet           no progress bar (shown on a terminal for large files)\n" +
             kKeyOptions +
             "The encoding applies to the key only: file contents are never converted.\n";
    case Command::kInspect:
      return "Usage: corvane inspect [--json] FILE...\n"
             "\n"
             "Reads the length header of each encrypted FILE ('-' for standard input) without a\n"
             "key and tells the stated length L, the ciphertext length (file size - 4) and\n"
             "whether they agree:\n"
             "  consistent     the ciphertext is L rounded up to whole 8-byte blocks, as written\n"
             "  inconsistent   at least L bytes but not that: decryption keeps L, ignores the rest\n"
             "  short          fewer than L bytes: decryption refuses the file\n"
             "  no-header      fewer than 4 bytes: decryption refuses the file\n"
             "Every file is reported. Exit code 0 when every file is consistent; otherwise that of\n"
             "the first file that is not: 8, or 4 or 5 when it cannot be opened or read.\n"
             "\n"
             "  --json       one JSON object per file and line: file, size, stated_length,\n"
             "               ciphertext_length, expected_ciphertext_length, status\n"
             "  -h, --help   this help\n";
    default:
      break;
  }
  return "Usage: corvane SUBCOMMAND [OPTIONS] [ARGUMENTS]\n"
         "       corvane --help | --version | help SUBCOMMAND\n"
         "\n"
         "Encrypts and decrypts with Blowfish in the formats of the Corvane component\n"
         "(Corvane.Crypt), with the same bytes: Base64 ciphertext text, and encrypted files\n"
         "with a 4-byte length header.\n"
         "\n"
         "Subcommands:\n"
         "  encrypt-text [TEXT...]     texts (or lines of standard input) to Base64, one a line\n"
         "  decrypt-text [BASE64...]   Base64 texts (or lines) back to text, one a line\n"
         "  encrypt-file FILE...       FILE to FILE.bf, or to -o OUTPUT; '-' for standard streams\n"
         "  decrypt-file FILE...       FILE to FILE.bf (the component's name), or to -o OUTPUT\n"
         "  inspect FILE...            length header and size of encrypted files, without a key\n"
         "\n"
         "Key: --key-file FILE, else the environment variable CORVANE_KEY, else a prompt on the\n"
         "terminal without echo; --key TEXT works but shows the key to others (a warning says so).\n"
         "Text encoding: --encoding NAME (default: " +
         std::string(kDefaultEncoding) +
         ").\n"
         "'corvane SUBCOMMAND --help' tells more.\n"
         "\n"
         "Exit codes:\n"
         "  0    success\n"
         "  1    internal error of the tool\n"
         "  2    usage: unknown subcommand or option, missing or extra argument, unknown encoding\n"
         "  3    no key: none given, an empty key, the two entries differ, unusable key file\n"
         "  4    an input file cannot be opened: missing, a folder, not a regular file, no access\n"
         "  5    an input cannot be read, grew while it was encrypted, or is too large (files\n"
         "       4 GiB - 1 bytes, texts 64 MiB)\n"
         "  6    an output cannot be written (a closed pipe too), or a read-only file, a folder,\n"
         "       a symbolic link or the input file itself is at the output path\n"
         "  7    malformed Base64 text\n"
         "  8    an encrypted file is shorter than its header states (inspect: or inconsistent)\n"
         "  9    text not representable in the encoding, or not valid text in it\n"
         "  10   out of memory\n"
         "  130  interrupted; no output file was changed\n";
}

}  // namespace corvane::cli
