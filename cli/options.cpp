// The command line, parsed by CLI11: GNU forms (bundled short options, --name=value,
// "--"), a subcommand first, --version and --help anywhere. The tool's own messages
// replace CLI11's for the mistakes users make most.
#include "cli/options.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstring>

namespace corvane::cli {
namespace {

#ifdef _WIN32
constexpr const char* kDefaultEncoding = "the ANSI code page, as the component uses";
#else
constexpr const char* kDefaultEncoding = "none: the bytes as given";
#endif

struct OptionSpec {
  const char* names;     // CLI11's form: "-k,--key-file"
  const char* longName;  // for messages
  char shortName;        // 0 for none
  bool takesValue;
};

enum OptionId { kKeyFile, kKey, kEncoding, kOutput, kQuiet, kJson, kOptionCount };

constexpr OptionSpec kOptionSpecs[kOptionCount] = {
    {"-k,--key-file", "--key-file", 'k', true}, {"--key", "--key", 0, true},       {"-e,--encoding", "--encoding", 'e', true},
    {"-o,--output", "--output", 'o', true},     {"-q,--quiet", "--quiet", 'q', false}, {"--json", "--json", 0, false},
};

constexpr Command kCommands[] = {Command::kEncryptText, Command::kDecryptText, Command::kEncryptFile,
                                 Command::kDecryptFile, Command::kInspect};

bool Allowed(Command command, OptionId id) {
  switch (id) {
    case kJson:
      return command == Command::kInspect || command == Command::kEncryptText || command == Command::kDecryptText;
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

// Arguments as UTF-8 for CLI11 and back. On Windows the conversion keeps lone
// surrogates (as the three-byte forms WTF-8 gives them), so that no file name changes
// on the way.
#ifdef _WIN32
std::string ToParserText(const NativeChar* argument) {
  std::string out;
  for (const wchar_t* p = argument; *p != 0; ++p) {
    char32_t c = static_cast<char16_t>(*p);
    if (c >= 0xD800 && c <= 0xDBFF && p[1] >= 0xDC00 && p[1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<char16_t>(p[1]) - 0xDC00);
      ++p;
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

NativeString FromParserText(const std::string& text) {
  NativeString out;
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char lead = static_cast<unsigned char>(text[i]);
    const std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    char32_t c = length == 1 ? lead : length == 2 ? lead & 0x1F : length == 3 ? lead & 0x0F : lead & 0x07;
    for (std::size_t k = 1; k < length && i + k < text.size(); ++k)
      c = (c << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
    i += length;
    if (c >= 0x10000) {
      out += static_cast<wchar_t>(0xD800 + ((c - 0x10000) >> 10));
      out += static_cast<wchar_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      out += static_cast<wchar_t>(c);
    }
  }
  return out;
}
#else
std::string ToParserText(const NativeChar* argument) { return argument; }
NativeString FromParserText(const std::string& text) { return text; }
#endif

const OptionSpec* SpecOfLong(const std::string& name) {
  for (const OptionSpec& spec : kOptionSpecs)
    if (name == spec.longName) return &spec;
  return nullptr;
}

const OptionSpec* SpecOfShort(char letter) {
  for (const OptionSpec& spec : kOptionSpecs)
    if (spec.shortName != 0 && spec.shortName == letter) return &spec;
  return nullptr;
}

// What CLI11 does not tell: where "--" ends the options (a "-" operand is standard
// input only before it, and CLI11 2.1 hands operands after a subcommand's "--" to the
// main command), where the --key text lies in argv (to scrub it there), and how an
// option that lacks its value was spelt. An option's value is always the next
// argument, as CLI11 and getopt take it, so this follows CLI11's reading.
struct ArgumentLayout {
  int endOfOptions = -1;           // the index of "--" in argv, or -1
  NativeChar* keyValue = nullptr;  // the last --key value in argv
  std::string lacksValue;          // "-k" when the last argument is an option that needs a value
};

ArgumentLayout ScanArguments(int argc, NativeChar** argv, const std::vector<std::string>& args) {
  ArgumentLayout layout;
  const OptionSpec* pending = nullptr;
  for (int i = 1; i < argc; ++i) {
    const std::string& a = args[static_cast<std::size_t>(i - 1)];
    if (pending != nullptr) {
      if (pending == &kOptionSpecs[kKey]) layout.keyValue = argv[i];
      pending = nullptr;
      continue;
    }
    if (a == "--") {
      layout.endOfOptions = i;
      break;
    }
    if (a.size() > 2 && a[0] == '-' && a[1] == '-') {
      const std::size_t equals = a.find('=');
      const OptionSpec* spec = SpecOfLong(a.substr(0, equals));
      if (spec == nullptr || !spec->takesValue) continue;
      if (equals == std::string::npos) {
        pending = spec;
        layout.lacksValue = a;
      } else if (spec == &kOptionSpecs[kKey]) {
        layout.keyValue = argv[i] + equals + 1;
      }
    } else if (a.size() > 1 && a[0] == '-') {
      for (std::size_t k = 1; k < a.size(); ++k) {
        const OptionSpec* spec = SpecOfShort(a[k]);
        if (spec == nullptr || !spec->takesValue) continue;
        if (k + 1 == a.size()) {
          pending = spec;
          layout.lacksValue = std::string("-") + a[k];
        }
        break;  // the rest of the argument is the value
      }
    }
  }
  if (pending == nullptr) layout.lacksValue.clear();
  return layout;
}

// The option an unknown argument names ("--frob" of "--frob=1"), for messages.
std::string OptionName(const std::string& argument) {
  if (argument.rfind("--", 0) == 0) return argument.substr(0, argument.find('='));
  return argument.substr(0, 2);  // the first of bundled short options is the one not taken
}

// The message for arguments CLI11 did not take.
// beforeCommand: the argument stands before the subcommand's name.
std::string ExtraMessage(Command command, const std::string& extra, bool beforeCommand) {
  const bool isOption = extra.size() > 1 && extra[0] == '-';
  if (!isOption) {
    if (command == Command::kNone) return "unknown subcommand '" + extra + "'" + SeeHelp(Command::kNone);
    return "unexpected argument '" + extra + "'" + SeeHelp(command);
  }
  const std::string name = OptionName(extra);
  const OptionSpec* spec = name.rfind("--", 0) == 0 ? SpecOfLong(name) : name.size() == 2 ? SpecOfShort(name[1]) : nullptr;
  if (spec == nullptr) return "unknown option '" + name + "'" + SeeHelp(command);
  // CLI11 passes a second use of a one-value option on as unknown.
  if (command != Command::kNone && !beforeCommand && Allowed(command, static_cast<OptionId>(spec - kOptionSpecs)))
    return std::string(spec->longName) + " is given twice";
  if (command == Command::kNone || beforeCommand)
    return "options come after the subcommand: '" + name + "'" + SeeHelp(Command::kNone);
  if (command == Command::kInspect) return name + " does not apply to inspect, which needs no key" + SeeHelp(command);
  return name + " does not apply to " + CommandName(command) + SeeHelp(command);
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
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.push_back(ToParserText(argv[i]));
  if (args.empty()) return "no subcommand given" + SeeHelp(Command::kNone);
  const ArgumentLayout layout = ScanArguments(argc, argv, args);
  const std::size_t parsedCount = layout.endOfOptions < 0 ? args.size() : static_cast<std::size_t>(layout.endOfOptions - 1);

  CLI::App app("corvane");
  app.set_help_flag();  // the tool's own help texts
  app.allow_extras();   // unknown arguments come back for the tool's own messages
  app.require_subcommand(0, 1);
  bool help = false, version = false;
  app.add_flag("-h,--help", help)->disable_flag_override();
  app.add_flag("--version", version)->disable_flag_override();

  std::vector<std::string> operands, helpTopics;
  std::string values[kOptionCount];
  bool flags[kOptionCount] = {};
  std::vector<std::pair<Command, CLI::App*>> commandApps;
  for (Command command : kCommands) {
    CLI::App* sub = app.add_subcommand(CommandName(command));
    sub->set_help_flag();
    sub->fallthrough();  // --help, --version and unknown options reach the main command
    sub->add_option("operands", operands)->expected(0, -1);
    for (int id = 0; id < kOptionCount; ++id) {
      if (!Allowed(command, static_cast<OptionId>(id))) continue;
      const OptionSpec& spec = kOptionSpecs[id];
      if (spec.takesValue)
        sub->add_option(spec.names, values[id])->multi_option_policy(CLI::MultiOptionPolicy::Throw);
      else
        sub->add_flag(spec.names, flags[id])->disable_flag_override();
    }
    commandApps.emplace_back(command, sub);
  }
  CLI::App* helpApp = app.add_subcommand("help");
  helpApp->set_help_flag();
  helpApp->add_option("subcommand", helpTopics)->expected(0, -1);

  const auto parsedCommand = [&] {
    for (const auto& [command, sub] : commandApps)
      if (sub->parsed()) return command;
    return Command::kNone;
  };
  std::vector<std::string> reversed(args.rbegin() + static_cast<std::ptrdiff_t>(args.size() - parsedCount),
                                    args.rend());
  try {
    app.parse(reversed);
  } catch (const CLI::ArgumentMismatch& e) {
    const Command command = parsedCommand();
    if (!layout.lacksValue.empty()) return layout.lacksValue + " needs a value" + SeeHelp(command);
    const std::string what = e.what();
    for (const OptionSpec& spec : kOptionSpecs) {
      const std::string bare = spec.longName + 2;
      if (what.rfind(bare + " was given a disallowed flag override", 0) == 0 ||
          what.rfind(std::string(spec.longName) + " was given", 0) == 0)
        return std::string(spec.longName) + " takes no value";
      if (what.rfind(std::string(spec.longName) + ":", 0) == 0 && what.find("At Most") != std::string::npos)
        return std::string(spec.longName) + " is given twice";
      if (what.rfind(std::string(spec.longName) + ":", 0) == 0 && what.find("missing") != std::string::npos)
        return std::string(spec.longName) + " needs a value that is not empty";  // --name= (no next argument)
    }
    return what + SeeHelp(command);
  } catch (const CLI::ParseError& e) {
    return std::string(e.what()) + SeeHelp(parsedCommand());
  }
  const Command command = parsedCommand();
  options->command = command;
  options->version = version;
  options->help = help || helpApp->parsed();
  const std::vector<std::string> extras = app.remaining();
  if (!extras.empty()) {
    const auto at = [&](const std::string& argument) { return std::find(args.begin(), args.end(), argument) - args.begin(); };
    const bool beforeCommand = command != Command::kNone && at(extras.front()) < at(CommandName(command));
    return ExtraMessage(command, extras.front(), beforeCommand);
  }
  if (options->version) return "";
  if (helpApp->parsed()) {
    if (helpTopics.size() > 1) return "help takes one subcommand at most";
    if (layout.endOfOptions >= 0) return "help takes one subcommand at most";
    if (helpTopics.size() == 1) {
      for (Command c : kCommands)
        if (helpTopics[0] == CommandName(c)) options->command = c;
      if (options->command == Command::kNone)
        return "unknown subcommand '" + helpTopics[0] + "'" + SeeHelp(Command::kNone);
    }
    return "";
  }
  if (options->help) return "";
  if (command == Command::kNone) {
    if (layout.endOfOptions >= 0 && static_cast<std::size_t>(layout.endOfOptions) < args.size())
      return "unknown subcommand '" + args[static_cast<std::size_t>(layout.endOfOptions)] + "'" + SeeHelp(Command::kNone);
    return "no subcommand given" + SeeHelp(Command::kNone);
  }

  for (const std::string& operand : operands) options->operands.push_back({FromParserText(operand), operand == "-"});
  for (std::size_t i = parsedCount + 1; i < args.size(); ++i) options->operands.push_back({FromParserText(args[i]), false});
  CLI::App* sub = nullptr;
  for (const auto& [c, app2] : commandApps)
    if (c == command) sub = app2;
  const auto given = [&](OptionId id) {
    const CLI::Option* option = sub->get_option_no_throw(kOptionSpecs[id].longName);
    return option != nullptr && option->count() > 0;
  };
  for (OptionId id : {kKeyFile, kEncoding, kOutput})
    if (given(id) && values[id].empty()) return std::string(kOptionSpecs[id].longName) + " needs a value that is not empty";
  if (given(kKeyFile)) options->keyFile = FromParserText(values[kKeyFile]);
  if (given(kEncoding)) options->encoding = FromParserText(values[kEncoding]);
  if (given(kOutput)) options->output = FromParserText(values[kOutput]);
  if (given(kKey)) {
    // The key is taken from argv itself, where it is scrubbed once read; the parser's
    // copy is wiped now.
    options->keyArgument = layout.keyValue;
    SecureWipe(&values[kKey][0], values[kKey].size());
    if (options->keyArgument == nullptr) return "--key needs a value";
  }
  options->quiet = flags[kQuiet];
  options->json = flags[kJson];

  if (options->keyFile && options->keyArgument != nullptr) return "give the key once: --key-file or --key, not both";
  std::size_t stdinCount = 0;
  for (const Operand& operand : options->operands) stdinCount += operand.isStdin ? 1 : 0;
  if (stdinCount > 1) return "standard input ('-') can be read only once";

  const bool fileCommand = command == Command::kEncryptFile || command == Command::kDecryptFile;
  if ((fileCommand || command == Command::kInspect) && options->operands.empty())
    return std::string(CommandName(command)) + " needs a FILE (- for standard input)" + SeeHelp(command);
  if (fileCommand && options->output && options->operands.size() > 1)
    return "--output names one output file, but " + std::to_string(options->operands.size()) + " files are given";
  return "";
}

std::string VersionText() { return std::string("corvane ") + CORVANE_VERSION + "\n"; }

std::string HelpText(Command command) {
  static const std::string kKeyOptions =
      "  -k, --key-file FILE   the key is the first line of FILE (its bytes up to the line end);\n"
      "                        a pipe or FIFO too (-k <(pass show x)); a file with a UTF-8 or\n"
      "                        UTF-16 byte-order mark is text, converted as --encoding says\n"
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
             "an empty line. Each answer is written before more input is awaited. Texts of up to\n"
             "64 MiB. It stops at the first text that fails.\n"
             "\n"
             "      --json            each line of standard input is one JSON string, and each\n"
             "                        answer is the Base64 text as one: texts may hold line breaks\n" +
             kKeyOptions;
    case Command::kDecryptText:
      return "Usage: corvane decrypt-text [OPTIONS] [BASE64...]\n"
             "\n"
             "Decrypts each Base64 ciphertext text, or each line of standard input when none is\n"
             "given (or for '-'), and writes the text on a line of its own: the deciphered bytes\n"
             "up to the first zero byte, as the component's deCrypt. A wrong key is not detected;\n"
             "it gives other text. A text with a line break takes more than one line (a warning\n"
             "says so); --json keeps one text a line, for a database column. It stops at the first\n"
             "text that fails.\n"
             "\n"
             "      --json            each line of standard input is one JSON string of Base64,\n"
             "                        and each text is written as one JSON string (UTF-8)\n" +
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
         "Short options bundle (-qk FILE); '--' ends the options.\n"
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
         "  130  interrupted; no output file was changed (the message says how many bytes had\n"
         "       gone to standard output)\n";
}

}  // namespace corvane::cli
