// What the tool needs from the operating system, behind one interface: native
// strings, interruption, the environment, the standard streams, the terminal and a
// temporary spool file. platform_posix.cpp and platform_win32.cpp implement it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/secure_buffer.h"
#include "crypt/file_io.h"
#include "crypt/stream_format.h"

namespace corvane::cli {

// Arguments and paths as the system gives them: UTF-16 on Windows, bytes elsewhere.
#ifdef _WIN32
using NativeChar = wchar_t;
#else
using NativeChar = char;
#endif
using NativeString = std::basic_string<NativeChar>;
using NativeView = std::basic_string_view<NativeChar>;

// Text as the user supplied it (an argument, a line, the key), in the same form as
// native strings; its memory is wiped when released.
using UserText = std::vector<NativeChar, WipingAllocator<NativeChar>>;

// An ASCII literal as a native string.
NativeString NativeFromAscii(std::string_view ascii);
// A native string for messages: UTF-8 on Windows, the bytes as they are elsewhere.
std::string Display(NativeView text);
// Overwrites an argument that held a secret, where the system lets other processes read it.
void ScrubArgument(NativeChar* argument);

// ---- start ----
// Makes sure the standard streams are open (POSIX: on /dev/null where the caller closed
// one), so that no file the tool opens takes their place.
void OpenStandardStreams();

// ---- interruption (Ctrl+C, termination requests) ----
// Also makes a closed pipe an ordinary write error (no SIGPIPE).
void InstallInterruptHandlers();
bool Interrupted();

// The output file being written, which the platform removes itself when the process is
// ended from outside before it can clean up (Windows: the console window closed, logoff,
// shutdown; the process ends as soon as the handler returns). One file at a time; the
// file's own clean-up is then done through these calls, so that it never runs at the
// same time as the platform's.
void WatchOutput(AtomicOutputFile* file);
// Commits the watched file; when the platform has removed it already, nothing is
// replaced and the result is CannotWrite (Interrupted() is then true).
FileStatus CommitWatchedOutput(AtomicOutputFile& file);
void AbandonWatchedOutput(AtomicOutputFile& file);
#ifdef _WIN32
// The console control handler, as SetConsoleCtrlHandler calls it (tests call it too).
int __stdcall ConsoleControlHandler(unsigned long event);
#endif

// ---- environment ----
// False when the variable is not set.
bool GetEnvironmentText(const char* name, UserText* value);

// ---- standard streams ----
enum class StdStream { kIn, kOut, kErr };
bool IsTerminal(StdStream stream);

// The number of bytes left on standard input when it is a regular file.
bool StdinRemainingSize(std::uint64_t* size);

// Whether standard input is the file that path names (a redirection from it).
bool StdinIsFileAt(const NativeString& path);

class StdinReader final : public ByteReader {
 public:
  FileStatus Read(void* buffer, std::size_t n, std::size_t* got) override;
};

class StdoutWriter final : public ByteWriter {
 public:
  FileStatus Write(const void* data, std::size_t n) override;
};

// Lines of text on standard output, buffered (flushed at once when a terminal is
// involved, so that interactive use sees each answer).
class TextOutput {
 public:
  enum class Result { kOk, kCannotWrite, kNotRepresentable };
  TextOutput();
  ~TextOutput();
  TextOutput(const TextOutput&) = delete;
  TextOutput& operator=(const TextOutput&) = delete;

  // ASCII text and a line end.
  Result AsciiLine(const std::string& line);
  // The user's text and a line end; on Windows in the console's characters, or in
  // the ANSI code page (strictly) when the stream is not a console.
  Result TextLine(const UserText& text);
  // Bytes as they are (UTF-8 JSON) and a line end.
  Result BytesLine(const SecureBytes& bytes);
  Result Flush();

 private:
  Result Append(const unsigned char* data, std::size_t n);
  SecureBytes buffer_;
  bool immediate_;
};

// Messages (UTF-8 on Windows, bytes elsewhere) to a standard stream; on a Windows
// console as characters, otherwise in the ANSI code page with substitutes. False when
// they could not be written.
bool WriteDisplay(StdStream stream, const std::string& text);
// Raw bytes to standard output (UTF-8 JSON).
bool WriteStdoutBytes(const std::string& bytes);
// Why the last write to standard output failed, in words ("no space left on the device").
std::string StdoutWriteProblem();
// How many bytes have reached standard output so far, for messages about failures.
std::uint64_t BytesToStdout();

// The system's description of one of its error codes (errno, or GetLastError()).
std::string SystemErrorText(std::uint32_t code);

// Bytes of a text stream as the user's text: standard input in the console's code
// page when it is a console, otherwise (and for files) in the ANSI code page on
// Windows; the bytes themselves elsewhere. False when they are not valid text.
bool StdinBytesToText(const unsigned char* bytes, std::size_t n, UserText* text);
bool FileBytesToText(const unsigned char* bytes, std::size_t n, UserText* text);
// The name of that local encoding, for messages.
std::string LocalEncodingName();

// ---- key files ----
// The content of a key file, no more than limit + 1 bytes (so that a larger or endless
// one shows as too large): a regular file, or a pipe, FIFO or device read to its end
// (`-k <(pass show corvane)`). On failure, *problem says why in words.
FileStatus ReadKeySourceFile(const NativeChar* path, std::size_t limit, SecureBytes* content, std::string* problem);

// ---- terminal ----
enum class PromptResult { kOk, kNoTerminal, kInterrupted, kFailed };
// Asks on the terminal (not the standard streams) and reads one line without echo.
PromptResult ReadSecretFromTerminal(const char* prompt, UserText* answer);

// ---- temporary storage ----
// An anonymous file in the temporary folder, deleted when closed: written once, then
// read back from the start.
class TemporaryFile final : public ByteReader, public ByteWriter {
 public:
  TemporaryFile() = default;
  ~TemporaryFile();
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  FileStatus Create() noexcept;
  FileStatus Write(const void* data, std::size_t n) override;
  FileStatus Rewind() noexcept;
  FileStatus Read(void* buffer, std::size_t n, std::size_t* got) override;
  // Where the file is made, for messages.
  static std::string Folder();
  // The system's error code of the failed Create or Write.
  std::uint32_t SystemError() const { return error_; }

 private:
  std::intptr_t handle_ = -1;
  std::uint32_t error_ = 0;
};

}  // namespace corvane::cli
