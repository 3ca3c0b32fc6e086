#include "cli/key_source.h"

#include <algorithm>

#include "cli/report.h"
#include "crypt/file_io.h"

namespace corvane::cli {
namespace {

constexpr std::size_t kMaxKeyFileSize = 64 * 1024;

int ReadKeySource(const NativeChar* path, const std::string& where, SecureBytes* content) {
  std::string problem;
  const FileStatus status = ReadKeySourceFile(path, kMaxKeyFileSize, content, &problem);
  if (status == FileStatus::OutOfMemory) return Report(kExitOutOfMemory, where, "out of memory");
  if (status == FileStatus::CannotOpen) return Report(kExitNoKey, where, "cannot open the key file: " + problem);
  if (status != FileStatus::Ok) return Report(kExitNoKey, where, "cannot read the key file: " + problem);
  if (content->size() > kMaxKeyFileSize)
    return Report(kExitNoKey, where, "the key file is larger than 64 KiB; it should hold the key on its first line");
  return kExitOk;
}

// The first line of a text (code points or bytes), without its LF or CR LF; warns when
// the key stops at a zero character or when other lines hold more than line ends.
template <typename Text>
Text FirstLine(const Text& all, const std::string& where) {
  auto end = std::find(all.begin(), all.end(), '\n');
  const bool moreLines = end != all.end() && std::any_of(end, all.end(), [](auto c) { return c != '\n' && c != '\r'; });
  if (end != all.begin() && end[-1] == '\r') --end;
  const auto zero = std::find(all.begin(), end, 0);
  if (zero != end && zero != all.begin())
    Warn(where + ": the key ends at a zero byte, before the end of its line");
  if (moreLines && zero != all.begin()) Warn(where + ": only the first line is the key; the file has more lines");
  return Text(all.begin(), end);
}

// The key from a key file. A file that starts with a byte-order mark is Unicode text
// (Notepad's "Unicode" is UTF-16 LE): it is decoded and converted as --encoding says,
// as a script's SetKey of that text converts it; *keyBytes then holds the key. Any
// other file is bytes of the local encoding, as before: *text holds its first line.
int ReadKeyFile(const NativeChar* path, TextCodec& codec, UserText* text, SecureBytes* keyBytes, bool* converted) {
  const std::string where = Display(path);
  *converted = false;
  SecureBytes content;
  const int code = ReadKeySource(path, where, &content);
  if (code != kExitOk) return code;

  const auto startsWith = [&](std::initializer_list<unsigned char> mark) {
    return content.size() >= mark.size() && std::equal(mark.begin(), mark.end(), content.begin());
  };
  const char* form = nullptr;
  UnicodeText unicode;
  bool valid = false;
  if (startsWith({0xEF, 0xBB, 0xBF})) {
    form = "UTF-8";
    valid = DecodeUtf8(content.data() + 3, content.size() - 3, &unicode);
  } else if (startsWith({0xFF, 0xFE}) || startsWith({0xFE, 0xFF})) {
    form = "UTF-16";
    valid = DecodeUtf16(content.data() + 2, content.size() - 2, content[0] == 0xFE, &unicode);
  }
  if (form == nullptr) {
    const SecureBytes line = FirstLine(content, where);
    if (!FileBytesToText(line.data(), line.size(), text))
      return Report(kExitNotRepresentable, where, "the key is not valid text in " + LocalEncodingName());
    return kExitOk;
  }
  if (!valid) return Report(kExitNotRepresentable, where, std::string("the key file is not valid ") + form + " text");
  const UnicodeText line = FirstLine(unicode, where);
  switch (codec.EncodeUnicode(line, keyBytes)) {
    case TextCodec::Result::kOk:
      break;
    default:
      return Report(kExitNotRepresentable, where,
                    "the key has characters that " + codec.UnicodeName() + " cannot represent");
  }
  *converted = true;
  WriteDisplay(StdStream::kErr, "corvane: " + where + ": the key file is " + form +
                                    " text (it starts with a byte-order mark); the key is that text in " +
                                    codec.UnicodeName() + "\n");
  return kExitOk;
}

int Prompt(bool confirm, UserText* text) {
  const PromptResult result = ReadSecretFromTerminal("Key: ", text);
  if (result == PromptResult::kInterrupted) return ReportInterrupted();
  if (result == PromptResult::kNoTerminal)
    return Report(kExitNoKey, "",
                  "no key: give --key-file FILE, set CORVANE_KEY, or run in a terminal to be asked for it");
  if (result != PromptResult::kOk) return Report(kExitNoKey, "", "cannot read the key from the terminal");
  if (!confirm) return kExitOk;
  UserText again;
  const PromptResult second = ReadSecretFromTerminal("Repeat the key: ", &again);
  if (second == PromptResult::kInterrupted) return ReportInterrupted();
  if (second != PromptResult::kOk) return Report(kExitNoKey, "", "cannot read the key from the terminal");
  if (again != *text) return Report(kExitNoKey, "", "the two keys entered differ");
  return kExitOk;
}

}  // namespace

int AcquireKey(Options& options, TextCodec& codec, bool confirm, SecureBytes* key) {
  UserText text;
  std::string where;
  int code = kExitOk;
  bool converted = false;
  if (options.keyFile) {
    where = Display(*options.keyFile);
    code = ReadKeyFile(options.keyFile->c_str(), codec, &text, key, &converted);
  } else if (options.keyArgument != nullptr) {
    where = "--key";
    Warn("--key shows the key to other users and in the shell history; use --key-file or CORVANE_KEY");
    const NativeView argument(options.keyArgument);
    text.assign(argument.begin(), argument.end());
    ScrubArgument(options.keyArgument);
  } else if (GetEnvironmentText("CORVANE_KEY", &text)) {
    where = "CORVANE_KEY";
  } else {
    where = "the key entered";
    code = Prompt(confirm, &text);
  }
  if (code != kExitOk) return code;

  if (!converted) switch (codec.Encode(text, key)) {
    case TextCodec::Result::kNotValidText:
      return Report(kExitNotRepresentable, where, "the key is not valid text in " + codec.LocalName());
    case TextCodec::Result::kNotRepresentable:
      return Report(kExitNotRepresentable, where, "the key has characters that " + codec.Name() + " cannot represent");
    default:
      break;
  }
  // The component's key is text: it ends at the first zero byte.
  key->erase(std::find(key->begin(), key->end(), 0), key->end());
  if (key->empty()) return Report(kExitNoKey, where, "the key is empty");
  return kExitOk;
}

}  // namespace corvane::cli
