// The platform layer on Linux and other POSIX systems.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "cli/platform.h"

namespace corvane::cli {
namespace {

volatile sig_atomic_t g_interrupted = 0;
int g_stdoutError = 0;  // errno of the last failed write to standard output
std::uint64_t g_stdoutBytes = 0;  // bytes that reached standard output

void OnInterrupt(int) { g_interrupted = 1; }

constexpr std::size_t kChunk = std::size_t{1} << 30;

// Writes everything; an interruption stops it, also one that cut a write short (the
// next write would block again). *written counts what went out.
bool WriteAll(int fd, const unsigned char* data, std::size_t n, std::uint64_t* written = nullptr) {
  while (n != 0) {
    const ssize_t done = ::write(fd, data, n < kChunk ? n : kChunk);
    if (done < 0) {
      if (errno == EINTR && !g_interrupted) continue;
      return false;
    }
    if (written != nullptr) *written += static_cast<std::uint64_t>(done);
    data += done;
    n -= static_cast<std::size_t>(done);
    if (n != 0 && g_interrupted) {
      errno = EINTR;
      return false;
    }
  }
  return true;
}

FileStatus ReadSome(int fd, void* buffer, std::size_t n, std::size_t* got) {
  *got = 0;
  for (;;) {
    const ssize_t done = ::read(fd, buffer, n < kChunk ? n : kChunk);
    if (done >= 0) {
      *got = static_cast<std::size_t>(done);
      return FileStatus::Ok;
    }
    if (errno != EINTR || g_interrupted) return FileStatus::CannotRead;
  }
}

// Restores the terminal's settings however the prompt ends.
class EchoOff {
 public:
  explicit EchoOff(int fd) : fd_(fd) {
    if (::tcgetattr(fd_, &saved_) != 0) return;
    termios quiet = saved_;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHOE | ECHOK);
    quiet.c_lflag |= ICANON;
    active_ = ::tcsetattr(fd_, TCSAFLUSH, &quiet) == 0;
  }
  ~EchoOff() {
    if (active_) ::tcsetattr(fd_, TCSAFLUSH, &saved_);
  }
  EchoOff(const EchoOff&) = delete;
  EchoOff& operator=(const EchoOff&) = delete;
  bool Active() const { return active_; }

 private:
  int fd_;
  termios saved_{};
  bool active_ = false;
};

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int Get() const { return fd_; }

 private:
  int fd_;
};

bool WriteStdout(const unsigned char* data, std::size_t n) {
  if (WriteAll(1, data, n, &g_stdoutBytes)) return true;
  g_stdoutError = errno;
  return false;
}

}  // namespace

NativeString NativeFromAscii(std::string_view ascii) { return NativeString(ascii); }
std::string Display(NativeView text) { return std::string(text); }
void ScrubArgument(NativeChar* argument) {
  // /proc/PID/cmdline shows the argument memory itself.
  if (argument != nullptr) SecureWipe(argument, std::strlen(argument));
}

void OpenStandardStreams() {
  // A descriptor of 0, 1 or 2 left closed by the caller would be taken by the next file
  // the tool opens (the spool of a pipe, say), which would then receive standard output.
  // On /dev/null, reading gives nothing and writing fails as a closed output should.
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    const int opened = ::open("/dev/null", O_RDONLY);  // read-only: writes to 1 and 2 fail
    if (opened >= 0 && opened != fd) {
      ::dup2(opened, fd);
      ::close(opened);
    }
  }
}

std::uint64_t BytesToStdout() { return g_stdoutBytes; }

void InstallInterruptHandlers() {
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no SA_RESTART: a blocked read returns and sees the flag
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(signal, &action, nullptr);
  // A reader that went away (`corvane ... | head`) is a write error with its message.
  ::signal(SIGPIPE, SIG_IGN);
}

bool Interrupted() { return g_interrupted != 0; }

// Signals that end the process from outside are all caught (above): the running
// operation cleans up itself, so there is nothing for the platform to remove.
void WatchOutput(AtomicOutputFile*) {}
FileStatus CommitWatchedOutput(AtomicOutputFile& file) { return file.Commit(); }
void AbandonWatchedOutput(AtomicOutputFile& file) { file.Abandon(); }

bool GetEnvironmentText(const char* name, UserText* value) {
  const char* text = std::getenv(name);
  if (text == nullptr) return false;
  value->assign(text, text + std::strlen(text));
  return true;
}

bool IsTerminal(StdStream stream) {
  const int fd = stream == StdStream::kIn ? 0 : stream == StdStream::kOut ? 1 : 2;
  return ::isatty(fd) == 1;
}

bool StdinRemainingSize(std::uint64_t* size) {
  struct stat info;
  if (::fstat(0, &info) != 0 || !S_ISREG(info.st_mode)) return false;
  const off_t position = ::lseek(0, 0, SEEK_CUR);
  if (position < 0 || position > info.st_size) return false;
  *size = static_cast<std::uint64_t>(info.st_size - position);
  return true;
}

bool StdinIsFileAt(const NativeString& path) { return IsOpenFileAt(0, path.c_str()); }

FileStatus StdinReader::Read(void* buffer, std::size_t n, std::size_t* got) { return ReadSome(0, buffer, n, got); }

FileStatus StdoutWriter::Write(const void* data, std::size_t n) {
  return WriteStdout(static_cast<const unsigned char*>(data), n) ? FileStatus::Ok : FileStatus::CannotWrite;
}

TextOutput::TextOutput() : immediate_(IsTerminal(StdStream::kOut) || IsTerminal(StdStream::kIn)) {}
TextOutput::~TextOutput() { Flush(); }

TextOutput::Result TextOutput::Append(const unsigned char* data, std::size_t n) {
  buffer_.insert(buffer_.end(), data, data + n);
  if (immediate_ || buffer_.size() >= (std::size_t{1} << 16)) return Flush();
  return Result::kOk;
}

TextOutput::Result TextOutput::AsciiLine(const std::string& line) {
  std::string withEnd = line + '\n';
  return Append(reinterpret_cast<const unsigned char*>(withEnd.data()), withEnd.size());
}

TextOutput::Result TextOutput::TextLine(const UserText& text) {
  if (!text.empty()) {
    const Result result = Append(reinterpret_cast<const unsigned char*>(text.data()), text.size());
    if (result != Result::kOk) return result;
  }
  const unsigned char end = '\n';
  return Append(&end, 1);
}

TextOutput::Result TextOutput::BytesLine(const SecureBytes& bytes) {
  if (!bytes.empty()) {
    const Result result = Append(bytes.data(), bytes.size());
    if (result != Result::kOk) return result;
  }
  const unsigned char end = '\n';
  return Append(&end, 1);
}

TextOutput::Result TextOutput::Flush() {
  if (buffer_.empty()) return Result::kOk;
  const bool ok = WriteStdout(buffer_.data(), buffer_.size());
  buffer_.clear();
  return ok ? Result::kOk : Result::kCannotWrite;
}

bool WriteDisplay(StdStream stream, const std::string& text) {
  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(text.data());
  return stream == StdStream::kOut ? WriteStdout(bytes, text.size()) : WriteAll(2, bytes, text.size());
}

bool WriteStdoutBytes(const std::string& bytes) {
  return WriteStdout(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
}

std::string StdoutWriteProblem() {
  if (g_stdoutError == EPIPE) return "the program reading it has closed the pipe";
  if (g_stdoutError == ENOSPC) return "no space left on the device";
  return SystemErrorText(static_cast<std::uint32_t>(g_stdoutError));
}

std::string SystemErrorText(std::uint32_t code) {
  std::string text = std::strerror(static_cast<int>(code));
  if (!text.empty() && text[0] >= 'A' && text[0] <= 'Z' && (text.size() < 2 || text[1] < 'A' || text[1] > 'Z'))
    text[0] = static_cast<char>(text[0] - 'A' + 'a');
  return text + " (error " + std::to_string(code) + ")";
}

bool StdinBytesToText(const unsigned char* bytes, std::size_t n, UserText* text) {
  text->assign(bytes, bytes + n);
  return true;
}

bool FileBytesToText(const unsigned char* bytes, std::size_t n, UserText* text) {
  text->assign(bytes, bytes + n);
  return true;
}

FileStatus ReadKeySourceFile(const NativeChar* path, std::size_t limit, SecureBytes* content, std::string* problem) {
  content->clear();
  // Opened once and blocking: a FIFO waits for its writer, as the user asked for it
  // (a first non-blocking look would let a writer come and go before the real open).
  const Descriptor fd(::open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY));
  const auto fail = [&](FileStatus status, int error) {
    *problem = error == ENOENT   ? std::string("no such file")
               : error == EACCES ? std::string("permission denied")
               : error == EISDIR ? std::string("it is a folder")
                                 : SystemErrorText(static_cast<std::uint32_t>(error));
    return status;
  };
  if (fd.Get() < 0) return fail(FileStatus::CannotOpen, errno);
  struct stat info;
  if (::fstat(fd.Get(), &info) != 0) return fail(FileStatus::CannotOpen, errno);
  if (S_ISDIR(info.st_mode)) return fail(FileStatus::CannotOpen, EISDIR);
  unsigned char buffer[4096];
  FileStatus status = FileStatus::Ok;
  while (content->size() <= limit) {
    std::size_t got = 0;
    if (ReadSome(fd.Get(), buffer, sizeof buffer, &got) != FileStatus::Ok) {
      status = fail(FileStatus::CannotRead, errno);
      break;
    }
    if (got == 0) break;
    content->insert(content->end(), buffer, buffer + got);
  }
  SecureWipe(buffer, sizeof buffer);
  return status;
}

PromptResult ReadSecretFromTerminal(const char* prompt, UserText* answer) {
  answer->clear();
  const Descriptor tty(::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC));
  if (tty.Get() < 0 || ::isatty(tty.Get()) != 1) return PromptResult::kNoTerminal;
  {
    const EchoOff echoOff(tty.Get());
    if (!echoOff.Active()) return PromptResult::kNoTerminal;
    if (!WriteAll(tty.Get(), reinterpret_cast<const unsigned char*>(prompt), std::strlen(prompt)))
      return g_interrupted ? PromptResult::kInterrupted : PromptResult::kFailed;
    for (;;) {
      unsigned char c = 0;
      const ssize_t got = ::read(tty.Get(), &c, 1);
      if (got < 0 && errno == EINTR && !g_interrupted) continue;
      if (got < 0 && g_interrupted) {
        answer->clear();
        break;
      }
      if (got <= 0 || c == '\n') break;
      if (c != '\r') answer->push_back(static_cast<char>(c));
    }
  }
  // The user's Enter was not echoed.
  WriteAll(tty.Get(), reinterpret_cast<const unsigned char*>("\n"), 1);
  return g_interrupted ? PromptResult::kInterrupted : PromptResult::kOk;
}

TemporaryFile::~TemporaryFile() {
  if (handle_ >= 0) ::close(static_cast<int>(handle_));
}

std::string TemporaryFile::Folder() {
  const char* folder = std::getenv("TMPDIR");
  return folder != nullptr && *folder != '\0' ? folder : "/tmp";
}

FileStatus TemporaryFile::Create() noexcept {
  try {
    std::string pattern = Folder() + "/corvane-XXXXXX";
    const int fd = ::mkstemp(&pattern[0]);
    if (fd < 0) {
      error_ = static_cast<std::uint32_t>(errno);
      return FileStatus::CannotWrite;
    }
    ::unlink(pattern.c_str());  // anonymous from now on: nothing is left behind
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    handle_ = fd;
    return FileStatus::Ok;
  } catch (const std::bad_alloc&) {
    return FileStatus::OutOfMemory;
  }
}

FileStatus TemporaryFile::Write(const void* data, std::size_t n) {
  if (handle_ < 0) return FileStatus::CannotWrite;
  if (WriteAll(static_cast<int>(handle_), static_cast<const unsigned char*>(data), n)) return FileStatus::Ok;
  error_ = static_cast<std::uint32_t>(errno);
  return FileStatus::CannotWrite;
}

FileStatus TemporaryFile::Rewind() noexcept {
  if (handle_ < 0 || ::lseek(static_cast<int>(handle_), 0, SEEK_SET) != 0) return FileStatus::CannotRead;
  return FileStatus::Ok;
}

FileStatus TemporaryFile::Read(void* buffer, std::size_t n, std::size_t* got) {
  *got = 0;
  if (handle_ < 0) return FileStatus::CannotRead;
  return ReadSome(static_cast<int>(handle_), buffer, n, got);
}

std::string LocalEncodingName() { return "the bytes as given"; }

}  // namespace corvane::cli
