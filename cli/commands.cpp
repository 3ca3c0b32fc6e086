#include "cli/commands.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <memory>
#include <new>

#include "cli/key_source.h"
#include "cli/line_reader.h"
#include "cli/progress.h"
#include "cli/report.h"
#include "cli/text_codec.h"
#include "cli/unicode_text.h"
#include "crypt/file_cipher.h"
#include "crypt/file_io.h"
#include "crypt/stream_format.h"
#include "engine/blowfish_engine.h"

namespace corvane::cli {
namespace {

// The longest text (an argument or a line) that the text subcommands take.
constexpr std::size_t kMaxTextLength = std::size_t{64} << 20;

const char kStdinName[] = "standard input";
const char kStdoutName[] = "standard output";
const char kTooLargeToEncrypt[] =
    "is larger than 4 GiB - 1 bytes, the most the 4-byte length header of an encrypted file can state";

// A target the file layer refuses to replace, rather than one it failed to write.
bool IsRefusedTarget(FileProblem problem) {
  return problem == FileProblem::kFolder || problem == FileProblem::kReadOnly ||
         problem == FileProblem::kSymbolicLink || problem == FileProblem::kNotRegular;
}

int ReportStdoutFailure() { return Report(kExitCannotWrite, kStdoutName, "cannot write: " + StdoutWriteProblem()); }

// Reads until n bytes are there or the input ends.
FileStatus ReadUpTo(ByteReader& reader, unsigned char* buffer, std::size_t n, std::size_t* got) {
  *got = 0;
  while (*got < n) {
    std::size_t part = 0;
    const FileStatus status = reader.Read(buffer + *got, n - *got, &part);
    if (status != FileStatus::Ok) return status;
    if (part == 0) break;
    *got += part;
  }
  return FileStatus::Ok;
}

// Reads and discards the rest of a stream; returns its length.
FileStatus Drain(ByteReader& reader, std::uint64_t* count) {
  std::vector<unsigned char> buffer(std::size_t{1} << 16);
  *count = 0;
  for (;;) {
    std::size_t got = 0;
    const FileStatus status = reader.Read(buffer.data(), buffer.size(), &got);
    if (status != FileStatus::Ok) return status;
    if (got == 0) return FileStatus::Ok;
    *count += got;
  }
}

// An input named on the command line: a file, or standard input for "-".
class Input {
 public:
  // number: the operand's place among the operands, to name an empty one.
  Input(const Operand& operand, std::size_t number)
      : isStdin_(operand.isStdin),
        name_(isStdin_                ? kStdinName
              : operand.value.empty() ? "argument " + std::to_string(number)
                                      : Display(operand.value)),
        fileReader_(file_) {
    if (!isStdin_) path_ = NativeString(operand.value);
  }

  // Opens it and learns its size where it has one; reports failures.
  int Open() {
    if (isStdin_) {
      sizeKnown_ = StdinRemainingSize(&size_);
      return kExitOk;
    }
    if (path_.empty()) return Report(kExitCannotOpen, name_, "the file name is empty");
    const FileStatus status = file_.Open(path_.c_str());
    if (status == FileStatus::OutOfMemory) return Report(kExitOutOfMemory, name_, "out of memory");
    if (status != FileStatus::Ok)
      return Report(kExitCannotOpen, name_,
                    "cannot open the input file: " + DescribeProblem(file_.Problem(), file_.SystemError()));
    if (file_.Size(&size_) != FileStatus::Ok) return Report(kExitCannotRead, name_, "cannot read the input file");
    sizeKnown_ = true;
    return kExitOk;
  }

  ByteReader& Reader() { return isStdin_ ? static_cast<ByteReader&>(stdin_) : fileReader_; }
  bool IsStdin() const { return isStdin_; }
  bool SizeKnown() const { return sizeKnown_; }
  std::uint64_t Size() const { return size_; }
  const std::string& Name() const { return name_; }
  // Why the last read failed, in words.
  std::string ReadProblem() const {
    return isStdin_ || file_.Problem() == FileProblem::kNone
               ? std::string("cannot read the input")
               : "cannot read the input: " + DescribeProblem(file_.Problem(), file_.SystemError());
  }
  void Close() { file_.Close(); }
  // Standard input too, where it is redirected from the file path names.
  bool IsFileAt(const NativeString& path) const {
    return isStdin_ ? StdinIsFileAt(path) : file_.IsFileAt(path.c_str());
  }

 private:
  bool isStdin_;
  std::string name_;
  NativeString path_;
  InputFile file_;
  InputFileReader fileReader_;
  StdinReader stdin_;
  bool sizeKnown_ = false;
  std::uint64_t size_ = 0;
};

// Standard output, counting what reached it.
class CountingStdout final : public ByteWriter {
 public:
  FileStatus Write(const void* data, std::size_t n) override {
    const FileStatus status = out_.Write(data, n);
    if (status == FileStatus::Ok) written_ += n;
    return status;
  }
  std::uint64_t Written() const { return written_; }

 private:
  StdoutWriter out_;
  std::uint64_t written_ = 0;
};

// Where a file subcommand writes: a file replaced only when complete, or standard output.
class Output {
 public:
  Output(const Options& options, const Input& input, const Operand& operand) : fileWriter_(file_) {
    if (options.output) {
      const NativeString& output = *options.output;
      toStdout_ = output == NativeFromAscii("-");
      if (!toStdout_) path_ = output;
    } else if (input.IsStdin()) {
      toStdout_ = true;
    } else {
      // The component's rule, for decryption too: the input path with ".bf" appended.
      path_ = NativeString(operand.value) + NativeFromAscii(kEncryptedFileSuffix);
    }
    name_ = toStdout_ ? kStdoutName : Display(path_);
  }
  ~Output() { AbandonWatchedOutput(file_); }
  Output(const Output&) = delete;
  Output& operator=(const Output&) = delete;

  bool ToStdout() const { return toStdout_; }
  const std::string& Name() const { return name_; }
  std::uint64_t BytesToStdout() const { return stdout_.Written(); }

  int Create(const Input& input) {
    if (toStdout_) return kExitOk;
    // There is no key check in the format: a mistyped key would leave noise in place of
    // the only copy, so an output over its own input is refused.
    if (input.IsFileAt(path_))
      return Report(kExitCannotWrite, name_,
                    "is the input file; write the output to another file; " + std::string(kLeftAsItWas));
    const FileStatus status = file_.Create(path_.c_str());
    if (status == FileStatus::OutOfMemory) return Report(kExitOutOfMemory, name_, "out of memory");
    if (status != FileStatus::Ok) {
      const FileProblem problem = file_.Problem();
      if (IsRefusedTarget(problem)) return ReportNotReplaced();
      std::string cause = problem == FileProblem::kNotFound ? std::string("its folder does not exist")
                                                            : DescribeProblem(problem, file_.SystemError());
      return Report(kExitCannotWrite, name_, "cannot create a temporary file beside the output file: " + cause);
    }
    WatchOutput(&file_);
    return kExitOk;
  }
  ByteWriter& Writer() { return toStdout_ ? static_cast<ByteWriter&>(stdout_) : fileWriter_; }
  // The line for a write that failed.
  int ReportWriteFailure() {
    if (toStdout_) return ReportStdoutFailure();
    const std::string cause = DescribeProblem(file_.Problem(), file_.SystemError());
    AbandonWatchedOutput(file_);
    return Report(kExitCannotWrite, name_, "cannot write the output file: " + cause + "; " + kLeftAsItWas);
  }
  int Commit() {
    if (toStdout_) return kExitOk;
    if (CommitWatchedOutput(file_) == FileStatus::Ok) return kExitOk;
    if (Interrupted()) return ReportInterrupted();
    const FileProblem problem = file_.Problem();
    if (IsRefusedTarget(problem)) return ReportNotReplaced();
    return Report(
        kExitCannotWrite, name_,
        "cannot replace the output file: " + DescribeProblem(problem, file_.SystemError()) + "; " + kLeftAsItWas);
  }

 private:
  static constexpr const char* kLeftAsItWas = "it was left as it was";

  int ReportNotReplaced() {
    return Report(kExitCannotWrite, name_,
                  "cannot replace the output file: " + DescribeProblem(file_.Problem(), file_.SystemError()) + "; " +
                      kLeftAsItWas);
  }

  bool toStdout_ = false;
  NativeString path_;
  std::string name_;
  AtomicOutputFile file_;
  OutputFileWriter fileWriter_;
  CountingStdout stdout_;
};

// The end of a message about a failure after the output was begun.
std::string NothingWritten(const Output& output) {
  if (!output.ToStdout()) return "nothing was written";
  if (output.BytesToStdout() == 0) return "nothing went to standard output";
  return std::to_string(output.BytesToStdout()) + " bytes went to standard output before that";
}

// Ciphertext of an input of unknown length, kept until its length is known: in memory
// up to one chunk, beyond that in an anonymous temporary file (ciphertext only: no
// plaintext ever reaches the disk this way).
class CiphertextSpool final : public ByteWriter {
 public:
  FileStatus Write(const void* data, std::size_t n) override {
    const unsigned char* bytes = static_cast<const unsigned char*>(data);
    if (!file_) {
      if (memory_.size() + n <= kStreamChunkSize) {
        memory_.insert(memory_.end(), bytes, bytes + n);
        return FileStatus::Ok;
      }
      file_ = std::make_unique<TemporaryFile>();
      FileStatus status = file_->Create();
      if (status != FileStatus::Ok) {
        problem_ = "cannot create it: " + SystemErrorText(file_->SystemError());
        return status;
      }
      if (!memory_.empty() && (status = file_->Write(memory_.data(), memory_.size())) != FileStatus::Ok) {
        problem_ = "cannot write it: " + SystemErrorText(file_->SystemError());
        return status;
      }
      std::vector<unsigned char>().swap(memory_);
    }
    const FileStatus status = file_->Write(bytes, n);
    if (status != FileStatus::Ok) problem_ = "cannot write it: " + SystemErrorText(file_->SystemError());
    return status;
  }

  // Why the last write failed, in words.
  const std::string& Problem() const { return problem_; }

  // Everything written so far, to out. Returns the failing side's status.
  StreamStatus CopyTo(ByteWriter& out) {
    if (!file_) return memory_.empty() || out.Write(memory_.data(), memory_.size()) == FileStatus::Ok
                           ? StreamStatus::kOk
                           : StreamStatus::kCannotWrite;
    if (file_->Rewind() != FileStatus::Ok) return StreamStatus::kCannotRead;
    std::vector<unsigned char> buffer(kStreamChunkSize);
    for (;;) {
      std::size_t got = 0;
      if (file_->Read(buffer.data(), buffer.size(), &got) != FileStatus::Ok) return StreamStatus::kCannotRead;
      if (got == 0) return StreamStatus::kOk;
      if (out.Write(buffer.data(), got) != FileStatus::Ok) return StreamStatus::kCannotWrite;
    }
  }

 private:
  std::vector<unsigned char> memory_;
  std::unique_ptr<TemporaryFile> file_;
  std::string problem_ = "cannot write it";
};

struct Context {
  std::unique_ptr<TextCodec> codec;
  std::unique_ptr<BlowfishEngine> engine;
  bool quiet = false;
};

// The failures every stream shares; kEndedEarly and kTooLong are the caller's.
int ReportStream(StreamStatus status, const Input& input, Output& output) {
  switch (status) {
    case StreamStatus::kCannotRead:
      return Report(kExitCannotRead, input.Name(), input.ReadProblem());
    case StreamStatus::kCannotWrite:
      return output.ReportWriteFailure();
    case StreamStatus::kOutOfMemory:
      return Report(kExitOutOfMemory, input.Name(), "out of memory");
    case StreamStatus::kStopped:
      return ReportInterrupted();
    default:
      return Report(kExitInternal, input.Name(), "internal error: unexpected stream status");
  }
}

// ---- encrypt-text and decrypt-text ----

int ReportNotShowable(const std::string& where, const std::string& local, const Context& context) {
  return Report(kExitNotRepresentable, where,
                "the decrypted text has characters that standard output (" + local + ") cannot show; with --encoding " +
                    context.codec->Name() + " they are valid");
}

int WriteFailure(TextOutput::Result result, const std::string& where, const Context& context) {
  if (result == TextOutput::Result::kNotRepresentable) return ReportNotShowable(where, LocalEncodingName(), context);
  return ReportStdoutFailure();
}

// The ciphertext of the text's bytes, on a line: Base64, or a JSON string of it.
int EncryptBytes(Context& context, TextOutput& out, const SecureBytes& bytes, const std::string& where, bool json) {
  if (bytes.size() > kMaxTextLength) return Report(kExitCannotRead, where, "the text is longer than 64 MiB");
  std::string base64;
  if (EncryptTextToBase64(*context.engine, bytes.data(), bytes.size(), &base64) != TextStatus::kOk)
    return Report(kExitCannotRead, where, "the text is too long");
  const TextOutput::Result result = json ? out.AsciiLine("\"" + base64 + "\"") : out.AsciiLine(base64);
  return result == TextOutput::Result::kOk ? kExitOk : WriteFailure(result, where, context);
}

int ReportEncodeFailure(TextCodec::Result result, const std::string& where, const std::string& encoding,
                        const Context& context) {
  if (result == TextCodec::Result::kNotValidText)
    return Report(kExitNotRepresentable, where, "the text is not valid text in " + context.codec->LocalName());
  return Report(kExitNotRepresentable, where, "the text has characters that " + encoding + " cannot represent");
}

int EncryptOneText(Context& context, TextOutput& out, const UserText& text, const std::string& where, bool json) {
  if (text.size() > kMaxTextLength) return Report(kExitCannotRead, where, "the text is longer than 64 MiB");
  SecureBytes bytes;
  const TextCodec::Result result = context.codec->Encode(text, &bytes);
  if (result != TextCodec::Result::kOk) return ReportEncodeFailure(result, where, context.codec->Name(), context);
  return EncryptBytes(context, out, bytes, where, json);
}

// A line of standard input in the --json form: one JSON string.
int EncryptJsonLine(Context& context, TextOutput& out, const SecureBytes& line, const std::string& where) {
  UnicodeText text;
  if (!ParseJsonString(line.data(), line.size(), &text))
    return Report(kExitNotRepresentable, where, "not one JSON string (with --json, each line is one)");
  SecureBytes bytes;
  const TextCodec::Result result = context.codec->EncodeUnicode(text, &bytes);
  if (result != TextCodec::Result::kOk) return ReportEncodeFailure(result, where, context.codec->UnicodeName(), context);
  return EncryptBytes(context, out, bytes, where, true);
}

int DecryptOneText(Context& context, TextOutput& out, const char* base64, std::size_t n, const std::string& where,
                   bool json) {
  SecureBytes bytes;
  switch (DecryptBase64ToText(*context.engine, base64, n, &bytes)) {
    case TextStatus::kBadBase64:
      return Report(kExitBadBase64, where, "malformed Base64 text");
    case TextStatus::kTooLong:
      return Report(kExitCannotRead, where, "the text is longer than 64 MiB");
    default:
      break;
  }
  // The same limit as encryption's: a text that encrypt-text takes comes back.
  if (bytes.size() > kMaxTextLength) return Report(kExitCannotRead, where, "the text is longer than 64 MiB");
  if (json) {
    UnicodeText text;
    if (context.codec->DecodeUnicode(bytes.data(), bytes.size(), &text) != TextCodec::Result::kOk)
      return Report(
          kExitNotRepresentable, where,
          "the decrypted bytes are not valid " + context.codec->UnicodeName() + " text (a wrong key gives such bytes)");
    SecureBytes line;
    AppendJsonString(text, &line);
    const TextOutput::Result result = out.BytesLine(line);
    return result == TextOutput::Result::kOk ? kExitOk : WriteFailure(result, where, context);
  }
  UserText text;
  switch (context.codec->Decode(bytes.data(), bytes.size(), &text)) {
    case TextCodec::Result::kNotValidText:
      return Report(
          kExitNotRepresentable, where,
          "the decrypted bytes are not valid " + context.codec->Name() + " text (a wrong key gives such bytes)");
    case TextCodec::Result::kNotRepresentable:
      return ReportNotShowable(where, context.codec->LocalName(), context);
    default:
      break;
  }
  // Such a text takes more than one line, and the lines after it no longer match the
  // texts they came from.
  if (std::find_if(text.begin(), text.end(), [](NativeChar c) { return c == '\n' || c == '\r'; }) != text.end())
    Warn(where + ": the text holds a line break, so it takes more than one line; --json keeps one text per line");
  const TextOutput::Result result = out.TextLine(text);
  return result == TextOutput::Result::kOk ? kExitOk : WriteFailure(result, where, context);
}

// Base64 characters of an argument: anything beyond ASCII is an invalid character.
std::string AsciiOrInvalid(NativeView argument) {
  std::string text(argument.size(), '\0');
  for (std::size_t i = 0; i < argument.size(); ++i) {
    const auto c = static_cast<std::make_unsigned_t<NativeChar>>(argument[i]);
    text[i] = c < 0x80 ? static_cast<char>(c) : '\x80';
  }
  return text;
}

// Standard input that first delivers the answers so far: a program that writes a line
// and waits for its answer gets it before the tool waits for more input. Bulk input is
// read 64 KiB at a time, so this costs a write per read, not per line.
class AnsweringStdin final : public ByteReader {
 public:
  explicit AnsweringStdin(TextOutput& out) : out_(out) {}
  FileStatus Read(void* buffer, std::size_t n, std::size_t* got) override {
    *got = 0;
    if (out_.Flush() != TextOutput::Result::kOk) {
      outputFailed_ = true;
      return FileStatus::CannotRead;
    }
    return in_.Read(buffer, n, got);
  }
  bool OutputFailed() const { return outputFailed_; }

 private:
  TextOutput& out_;
  StdinReader in_;
  bool outputFailed_ = false;
};

// The longest line of standard input: the text's limit for encrypt-text, and room for
// its Base64 form (4/3 of it) with white space for decrypt-text; JSON escapes take up to
// six bytes a character. The text itself is held to the limit once it is decoded.
std::size_t MaxLineLength(bool encrypt, bool json) {
  if (encrypt) return json ? 6 * kMaxTextLength + 2 : kMaxTextLength;
  return 2 * kMaxTextLength;
}

std::string LineLimitText(std::size_t limit) { return std::to_string(limit >> 20) + " MiB"; }

int RunTextCommand(Context& context, const Options& options, bool encrypt) {
  TextOutput out;
  const bool json = options.json;
  std::vector<Operand> items = options.operands;
  if (items.empty()) items.push_back({NativeString(), true});
  int number = 0;
  for (const Operand& item : items) {
    ++number;
    if (Interrupted()) return ReportInterrupted();
    int code = kExitOk;
    if (!item.isStdin) {
      const std::string where = "argument " + std::to_string(number);
      if (encrypt) {
        code = EncryptOneText(context, out, UserText(item.value.begin(), item.value.end()), where, json);
      } else {
        const std::string base64 = AsciiOrInvalid(item.value);
        code = DecryptOneText(context, out, base64.data(), base64.size(), where, json);
      }
    } else {
      AnsweringStdin in(out);
      const std::size_t maxLine = MaxLineLength(encrypt, json);
      LineReader lines(in, maxLine);
      for (std::uint64_t lineNumber = 1; code == kExitOk; ++lineNumber) {
        if (Interrupted()) return ReportInterrupted();
        const std::string where = std::string(kStdinName) + ", line " + std::to_string(lineNumber);
        SecureBytes line;
        const LineReader::Result result = lines.Next(&line);
        if (result == LineReader::Result::kEnd) break;
        if (result == LineReader::Result::kCannotRead) {
          code = in.OutputFailed() ? ReportStdoutFailure() : Report(kExitCannotRead, kStdinName, "cannot read");
        } else if (result == LineReader::Result::kTooLong) {
          code = Report(kExitCannotRead, where, "the line is longer than " + LineLimitText(maxLine));
        } else if (encrypt && json) {
          code = EncryptJsonLine(context, out, line, where);
        } else if (encrypt) {
          UserText text;
          if (!StdinBytesToText(line.data(), line.size(), &text))
            code = Report(kExitNotRepresentable, where, "not valid text in " + LocalEncodingName());
          else
            code = EncryptOneText(context, out, text, where, false);
        } else if (json) {
          UnicodeText base64;
          SecureBytes ascii;
          if (!ParseJsonString(line.data(), line.size(), &base64) || !EncodeUtf8(base64, &ascii))
            code = Report(kExitNotRepresentable, where, "not one JSON string (with --json, each line is one)");
          else
            code = DecryptOneText(context, out, reinterpret_cast<const char*>(ascii.data()), ascii.size(), where, true);
        } else {
          code = DecryptOneText(context, out, reinterpret_cast<const char*>(line.data()), line.size(), where, false);
        }
      }
    }
    if (code != kExitOk) {
      out.Flush();  // the answers before the failure are delivered
      return code;
    }
  }
  if (out.Flush() != TextOutput::Result::kOk) return ReportStdoutFailure();
  return kExitOk;
}

// ---- encrypt-file and decrypt-file ----

int EncryptOneFile(Context& context, const Options& options, const Operand& operand, std::size_t number) {
  Input input(operand, number);
  Output output(options, input, operand);
  if (output.ToStdout() && IsTerminal(StdStream::kOut))
    return Report(kExitUsage, kStdoutName,
                  "is a terminal; encrypted data goes to a file (-o FILE) or through a redirection");
  int code = input.Open();
  if (code != kExitOk) return code;
  if (input.SizeKnown() && input.Size() > kMaxPlaintextFileLength)
    return Report(kExitCannotRead, input.Name(), kTooLargeToEncrypt);

  ProgressBar progress(input.Name(), input.SizeKnown() ? input.Size() : 0, !context.quiet);
  if (input.SizeKnown()) {
    if ((code = output.Create(input)) != kExitOk) return code;
    const StreamStatus status = EncryptFileStream(*context.engine, input.Reader(),
                                                  static_cast<std::uint32_t>(input.Size()), output.Writer(), &progress);
    if (status == StreamStatus::kEndedEarly)
      return Report(kExitCannotRead, input.Name(),
                    "the input became shorter while it was read; " + NothingWritten(output));
    if (status != StreamStatus::kOk) return ReportStream(status, input, output);
    // The length in the header is the size at opening: a file that grew since would be
    // cut there without a word.
    unsigned char more = 0;
    std::size_t got = 0;
    if (input.Reader().Read(&more, 1, &got) != FileStatus::Ok)
      return Report(kExitCannotRead, input.Name(), input.ReadProblem());
    if (got != 0)
      return Report(kExitCannotRead, input.Name(),
                    "the input grew while it was read (it had " + std::to_string(input.Size()) +
                        " bytes when it was opened); " + NothingWritten(output));
  } else {
    // A pipe: the header needs the length, known only at its end.
    CiphertextSpool spool;
    std::uint64_t length = 0;
    const StreamStatus status =
        EncipherToEnd(*context.engine, input.Reader(), kMaxPlaintextFileLength, spool, &length, &progress);
    if (status == StreamStatus::kTooLong) return Report(kExitCannotRead, input.Name(), kTooLargeToEncrypt);
    if (status == StreamStatus::kCannotWrite)
      return Report(kExitCannotWrite, "temporary file in " + TemporaryFile::Folder(),
                    spool.Problem() + "; " + NothingWritten(output));
    if (status != StreamStatus::kOk) return ReportStream(status, input, output);
    if ((code = output.Create(input)) != kExitOk) return code;
    unsigned char header[kLengthHeaderSize];
    StoreLengthHeader(static_cast<std::uint32_t>(length), header);
    if (output.Writer().Write(header, sizeof header) != FileStatus::Ok) return output.ReportWriteFailure();
    const StreamStatus copied = spool.CopyTo(output.Writer());
    if (copied == StreamStatus::kCannotRead)
      return Report(kExitCannotWrite, "temporary file in " + TemporaryFile::Folder(), "cannot read it back");
    if (copied != StreamStatus::kOk) return ReportStream(copied, input, output);
  }
  input.Close();
  if (Interrupted()) return ReportInterrupted();
  return output.Commit();
}

int DecryptOneFile(Context& context, const Options& options, const Operand& operand, std::size_t number) {
  Input input(operand, number);
  Output output(options, input, operand);
  int code = input.Open();
  if (code != kExitOk) return code;

  unsigned char header[kLengthHeaderSize];
  std::size_t got = 0;
  if (ReadUpTo(input.Reader(), header, sizeof header, &got) != FileStatus::Ok)
    return Report(kExitCannotRead, input.Name(), input.ReadProblem());
  if (got < sizeof header)
    return Report(kExitBadEncryptedFile, input.Name(),
                  "is shorter than the 4-byte length header of an encrypted file; nothing was written");
  const std::uint32_t length = LoadLengthHeader(header);
  const std::string shortFile = "the header states " + std::to_string(length) + " bytes, but ";
  if (input.SizeKnown() && ShapeOfEncryptedFile(input.Size(), length) == EncryptedFileShape::kShort)
    return Report(kExitBadEncryptedFile, input.Name(),
                  shortFile + "only " + std::to_string(input.Size() - kLengthHeaderSize) +
                      " bytes of ciphertext follow; nothing was written");

  ProgressBar progress(input.Name(), input.SizeKnown() ? input.Size() - kLengthHeaderSize : 0, !context.quiet);
  if ((code = output.Create(input)) != kExitOk) return code;
  const StreamStatus status = DecryptFileStream(*context.engine, input.Reader(), length, output.Writer(), &progress);
  if (status == StreamStatus::kEndedEarly)
    return Report(kExitBadEncryptedFile, input.Name(),
                  shortFile + "the ciphertext ends before that; " + NothingWritten(output));
  if (status != StreamStatus::kOk) return ReportStream(status, input, output);
  if (input.IsStdin() && !input.SizeKnown()) {
    // Bytes beyond the stated length are ignored, as the component ignores them, but
    // read, so that the writer of the pipe is not cut off.
    std::uint64_t ignored = 0;
    if (Drain(input.Reader(), &ignored) != FileStatus::Ok)
      return Report(kExitCannotRead, input.Name(), input.ReadProblem());
  }
  input.Close();
  if (Interrupted()) return ReportInterrupted();
  return output.Commit();
}

int RunFileCommand(Context& context, const Options& options, bool encrypt) {
  std::size_t number = 0;
  for (const Operand& operand : options.operands) {
    ++number;
    if (Interrupted()) return ReportInterrupted();
    const int code =
        encrypt ? EncryptOneFile(context, options, operand, number) : DecryptOneFile(context, options, operand, number);
    if (code != kExitOk) return code;
  }
  return kExitOk;
}

// ---- inspect ----

// The length of the well-formed UTF-8 sequence at text[i] (RFC 3629: no overlong forms,
// no surrogates, nothing past U+10FFFF), or 0 when there is none.
std::size_t Utf8SequenceAt(const std::string& text, std::size_t i) {
  const auto byte = [&](std::size_t k) { return i + k < text.size() ? static_cast<unsigned char>(text[i + k]) : 0u; };
  const auto continuation = [&](std::size_t k, unsigned low = 0x80, unsigned high = 0xBF) {
    return byte(k) >= low && byte(k) <= high;
  };
  const unsigned lead = byte(0);
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) return continuation(1) ? 2 : 0;
  if (lead >= 0xE0 && lead <= 0xEF) {
    const bool second = lead == 0xE0   ? continuation(1, 0xA0)
                        : lead == 0xED ? continuation(1, 0x80, 0x9F)
                                       : continuation(1);
    return second && continuation(2) ? 3 : 0;
  }
  if (lead >= 0xF0 && lead <= 0xF4) {
    const bool second = lead == 0xF0   ? continuation(1, 0x90)
                        : lead == 0xF4 ? continuation(1, 0x80, 0x8F)
                                       : continuation(1);
    return second && continuation(2) && continuation(3) ? 4 : 0;
  }
  return 0;
}

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (std::size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    } else if (c < 0x80) {
      out += static_cast<char>(c);
    } else {
      // Well-formed UTF-8 passes; each byte of anything else becomes U+FFFD, so that the
      // line is always valid JSON (a file name on Linux may hold any bytes).
      const std::size_t length = Utf8SequenceAt(text, i);
      if (length != 0) {
        out.append(text, i, length);
        i += length - 1;
      } else {
        out += "\\ufffd";
      }
    }
  }
  return out + "\"";
}

const char* ShapeName(EncryptedFileShape shape) {
  switch (shape) {
    case EncryptedFileShape::kExact:
      return "consistent";
    case EncryptedFileShape::kInconsistent:
      return "inconsistent";
    case EncryptedFileShape::kShort:
      return "short";
    default:
      return "no-header";
  }
}

int InspectOne(const Options& options, const Operand& operand, std::size_t number) {
  Input input(operand, number);
  int code = input.Open();
  if (code != kExitOk) return code;
  unsigned char header[kLengthHeaderSize];
  std::size_t got = 0;
  if (ReadUpTo(input.Reader(), header, sizeof header, &got) != FileStatus::Ok)
    return Report(kExitCannotRead, input.Name(), input.ReadProblem());
  std::uint64_t size = input.Size();
  if (!input.SizeKnown()) {
    std::uint64_t rest = 0;
    if (Drain(input.Reader(), &rest) != FileStatus::Ok)
      return Report(kExitCannotRead, input.Name(), input.ReadProblem());
    size = got + rest;
  }
  const std::uint32_t stated = got == sizeof header ? LoadLengthHeader(header) : 0;
  const EncryptedFileShape shape = ShapeOfEncryptedFile(size, stated);
  const std::uint64_t ciphertext = size >= kLengthHeaderSize ? size - kLengthHeaderSize : 0;
  const std::uint64_t expected = (std::uint64_t{stated} + 7) / 8 * 8;

  if (options.json) {
    const bool header_ok = shape != EncryptedFileShape::kNoHeader;
    const std::string number = header_ok ? "" : "null";
    std::string line = "{\"file\":" + JsonString(input.Name()) + ",\"size\":" + std::to_string(size) +
                       ",\"stated_length\":" + (header_ok ? std::to_string(stated) : number) +
                       ",\"ciphertext_length\":" + (header_ok ? std::to_string(ciphertext) : number) +
                       ",\"expected_ciphertext_length\":" + (header_ok ? std::to_string(expected) : number) +
                       ",\"status\":\"" + ShapeName(shape) + "\"}\n";
    if (!WriteStdoutBytes(line)) return ReportStdoutFailure();
  } else {
    std::string line = input.Name() + ": ";
    if (shape == EncryptedFileShape::kNoHeader) {
      line += std::to_string(size) + " bytes, no-header: shorter than the 4-byte length header; decryption refuses it";
    } else {
      line += "stated length " + std::to_string(stated) + " bytes, ciphertext " + std::to_string(ciphertext) +
              " bytes, " + ShapeName(shape);
      if (shape == EncryptedFileShape::kShort)
        line += ": decryption refuses it";
      else if (shape == EncryptedFileShape::kInconsistent)
        line += ": the encryption writes " + std::to_string(expected) +
                " bytes of ciphertext for this length; decryption keeps the stated length and ignores the rest";
    }
    if (!WriteDisplay(StdStream::kOut, line + "\n")) return ReportStdoutFailure();
  }
  return shape == EncryptedFileShape::kExact ? kExitOk : kExitBadEncryptedFile;
}

// Every file is inspected; the exit code is that of the first file that failed. Only
// an interruption or an unwritable standard output ends the run early.
int RunInspect(const Options& options) {
  int result = kExitOk;
  std::size_t number = 0;
  for (const Operand& operand : options.operands) {
    ++number;
    if (Interrupted()) return ReportInterrupted();
    const int code = InspectOne(options, operand, number);
    if (result == kExitOk) result = code;
    if (code == kExitCannotWrite) break;
  }
  return result;
}

}  // namespace

int RunCommand(Options& options) {
  if (options.command == Command::kInspect) return RunInspect(options);

  Context context;
  context.quiet = options.quiet;
  std::string problem;
  context.codec = TextCodec::Open(options.encoding ? Display(*options.encoding) : std::string(), &problem);
  if (!context.codec) return Report(kExitUsage, "", problem);

  const bool encrypt = options.command == Command::kEncryptText || options.command == Command::kEncryptFile;
  {
    SecureBytes key;
    const int code = AcquireKey(options, *context.codec, encrypt, &key);
    if (code != kExitOk) return code;
    context.engine = std::make_unique<BlowfishEngine>();
    if (!context.engine->IsAllocated()) return Report(kExitOutOfMemory, "", "out of memory");
    context.engine->Initialize(key.data(), static_cast<std::int32_t>(key.size()));
  }  // the key bytes are wiped here; the engine wipes its tables when destroyed

  switch (options.command) {
    case Command::kEncryptText:
    case Command::kDecryptText:
      return RunTextCommand(context, options, encrypt);
    default:
      return RunFileCommand(context, options, encrypt);
  }
}

int Main(int argc, NativeChar** argv) {
  OpenStandardStreams();
  InstallInterruptHandlers();
  try {
    Options options;
    const std::string problem = ParseArguments(argc, argv, &options);
    if (!problem.empty()) return Report(kExitUsage, "", problem);
    if (options.version) return WriteStdoutBytes(VersionText()) ? kExitOk : ReportStdoutFailure();
    if (options.help) return WriteDisplay(StdStream::kOut, HelpText(options.command)) ? kExitOk : ReportStdoutFailure();
    return RunCommand(options);
  } catch (const std::bad_alloc&) {
    return Report(kExitOutOfMemory, "", "out of memory");
  } catch (const std::exception& e) {
    return Report(kExitInternal, "", std::string("internal error: ") + e.what());
  }
}

}  // namespace corvane::cli
