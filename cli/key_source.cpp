#include "cli/key_source.h"

#include <algorithm>

#include "cli/report.h"
#include "crypt/file_io.h"

namespace corvane::cli {
namespace {

constexpr std::uint64_t kMaxKeyFileSize = 64 * 1024;

// The first line of the key file (without its LF or CR LF).
int ReadKeyFile(const NativeChar* path, UserText* text) {
  const std::string where = Display(path);
  InputFile file;
  FileStatus status = file.Open(path);
  if (status == FileStatus::OutOfMemory) return Report(kExitOutOfMemory, where, "out of memory");
  if (status != FileStatus::Ok)
    return Report(kExitNoKey, where,
                  "cannot open the key file: " + DescribeProblem(file.Problem(), file.SystemError()));
  std::uint64_t size = 0;
  if (file.Size(&size) != FileStatus::Ok) return Report(kExitNoKey, where, "cannot read the key file");
  if (size > kMaxKeyFileSize)
    return Report(kExitNoKey, where, "the key file is larger than 64 KiB; it should hold the key on its first line");
  SecureBytes content(static_cast<std::size_t>(size));
  if (size != 0 && file.ReadExact(content.data(), content.size()) != FileStatus::Ok)
    return Report(kExitNoKey, where, "cannot read the key file");
  auto end = std::find(content.begin(), content.end(), '\n');
  if (end != content.begin() && end[-1] == '\r') --end;
  const std::size_t length = static_cast<std::size_t>(end - content.begin());
  if (!FileBytesToText(content.data(), length, text))
    return Report(kExitNotRepresentable, where, "the key is not valid text in " + LocalEncodingName());
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
  if (options.keyFile != nullptr) {
    where = Display(options.keyFile);
    code = ReadKeyFile(options.keyFile, &text);
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

  switch (codec.Encode(text, key)) {
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
