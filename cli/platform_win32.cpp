// The platform layer on Windows: UTF-16 arguments, console or ANSI code page streams.
#include <windows.h>

#include <cstring>
#include <cwchar>

#include "cli/platform.h"
#include "cli/report.h"

namespace corvane::cli {
namespace {

volatile LONG g_interrupted = 0;
DWORD g_stdoutError = 0;  // GetLastError() of the last failed write to standard output
std::uint64_t g_stdoutBytes = 0;  // bytes that reached standard output

// The output being written, and whether the console handler has removed it. The lock
// keeps the handler from running while the main thread commits or abandons the file.
SRWLOCK g_outputLock = SRWLOCK_INIT;
AtomicOutputFile* g_watchedOutput = nullptr;
bool g_outputRemoved = false;

class OutputLock {
 public:
  OutputLock() { AcquireSRWLockExclusive(&g_outputLock); }
  ~OutputLock() { ReleaseSRWLockExclusive(&g_outputLock); }
  OutputLock(const OutputLock&) = delete;
  OutputLock& operator=(const OutputLock&) = delete;
};

constexpr DWORD kChunk = DWORD{1} << 30;

HANDLE StdHandle(StdStream stream) {
  return GetStdHandle(stream == StdStream::kIn    ? STD_INPUT_HANDLE
                      : stream == StdStream::kOut ? STD_OUTPUT_HANDLE
                                                  : STD_ERROR_HANDLE);
}

bool IsConsole(HANDLE h) {
  DWORD mode = 0;
  return h != nullptr && h != INVALID_HANDLE_VALUE && GetConsoleMode(h, &mode) != 0;
}

bool WriteAll(HANDLE h, const unsigned char* data, std::size_t n, std::uint64_t* written = nullptr) {
  if (h == nullptr || h == INVALID_HANDLE_VALUE) {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  while (n != 0) {
    DWORD done = 0;
    const BOOL ok = WriteFile(h, data, n < kChunk ? static_cast<DWORD>(n) : kChunk, &done, nullptr);
    if (written != nullptr) *written += done;
    if (!ok || done == 0) return false;
    data += done;
    n -= done;
  }
  return true;
}

bool WriteConsoleText(HANDLE h, const wchar_t* text, std::size_t n) {
  while (n != 0) {
    DWORD done = 0;
    const DWORD part = n < 8192 ? static_cast<DWORD>(n) : 8192;
    if (!WriteConsoleW(h, text, part, &done, nullptr) || done == 0) return false;
    text += done;
    n -= done;
  }
  return true;
}

bool WriteStdout(const unsigned char* data, std::size_t n) {
  if (WriteAll(StdHandle(StdStream::kOut), data, n, &g_stdoutBytes)) return true;
  g_stdoutError = GetLastError();
  return false;
}

// UTF-8 messages to the ANSI code page, with substitutes: messages must get through.
std::string Narrow(const std::wstring& wide, UINT codePage) {
  if (wide.empty()) return std::string();
  const int needed =
      WideCharToMultiByte(codePage, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
  if (needed <= 0) return std::string();
  std::string bytes(static_cast<std::size_t>(needed), '\0');
  WideCharToMultiByte(codePage, 0, wide.data(), static_cast<int>(wide.size()), &bytes[0], needed, nullptr, nullptr);
  return bytes;
}

std::wstring FromUtf8(const std::string& text) {
  std::wstring wide;
  if (text.empty()) return wide;
  const int needed = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (needed <= 0) return wide;
  wide.resize(static_cast<std::size_t>(needed));
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &wide[0], needed);
  return wide;
}

// LF line ends as CR LF.
std::string WithCrLf(const std::string& text) {
  std::string out;
  out.reserve(text.size() + text.size() / 16);
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

// Text of the user's streams and files into UTF-16, strictly.
bool BytesToText(UINT codePage, const unsigned char* bytes, std::size_t n, UserText* text) {
  text->clear();
  if (n == 0) return true;
  if (n > 0x7FFFFFFF) return false;
  const char* p = reinterpret_cast<const char*>(bytes);
  const int needed = MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, p, static_cast<int>(n), nullptr, 0);
  if (needed <= 0) return false;
  text->resize(static_cast<std::size_t>(needed));
  return MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, p, static_cast<int>(n), text->data(), needed) == needed;
}

// Restores the console's mode however the prompt ends.
class EchoOff {
 public:
  explicit EchoOff(HANDLE h) : h_(h) {
    if (!GetConsoleMode(h_, &saved_)) return;
    const DWORD quiet = (saved_ & ~static_cast<DWORD>(ENABLE_ECHO_INPUT)) | ENABLE_LINE_INPUT | ENABLE_PROCESSED_INPUT;
    active_ = SetConsoleMode(h_, quiet) != 0;
  }
  ~EchoOff() {
    if (active_) SetConsoleMode(h_, saved_);
  }
  EchoOff(const EchoOff&) = delete;
  EchoOff& operator=(const EchoOff&) = delete;
  bool Active() const { return active_; }

 private:
  HANDLE h_;
  DWORD saved_ = 0;
  bool active_ = false;
};

class Handle {
 public:
  explicit Handle(HANDLE h) : h_(h) {}
  ~Handle() {
    if (h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HANDLE Get() const { return h_; }

 private:
  HANDLE h_;
};

}  // namespace

NativeString NativeFromAscii(std::string_view ascii) { return NativeString(ascii.begin(), ascii.end()); }

std::string Display(NativeView text) {
  if (text.empty()) return std::string();
  const int needed =
      WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  if (needed <= 0) return std::string();
  std::string utf8(static_cast<std::size_t>(needed), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &utf8[0], needed, nullptr, nullptr);
  return utf8;
}

void ScrubArgument(NativeChar* argument) {
  // Only this process's copy: the system keeps the command line elsewhere as well.
  if (argument != nullptr) SecureWipe(argument, std::wcslen(argument) * sizeof(wchar_t));
}

BOOL WINAPI ConsoleControlHandler(DWORD event) {
  InterlockedExchange(&g_interrupted, 1);
  // Ctrl+C and Ctrl+Break: the running operation stops at its next check and cleans up.
  if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) return TRUE;
  // The console window closed, logoff, shutdown: the system ends the process as soon as
  // this returns, before the operation gets to clean up. The temporary file is removed
  // here (it was opened with delete sharing; it goes when its last handle closes).
  const OutputLock lock;
  if (g_watchedOutput != nullptr && !g_outputRemoved) {
    const wchar_t* temporary = g_watchedOutput->TemporaryPath();
    if (temporary != nullptr) DeleteFileW(temporary);
    g_outputRemoved = true;
  }
  return TRUE;
}

// A process started without standard handles has null ones: reads give nothing and
// writes fail, and no file the tool opens can take their place.
void OpenStandardStreams() {}

std::uint64_t BytesToStdout() { return g_stdoutBytes; }

void InstallInterruptHandlers() { SetConsoleCtrlHandler(ConsoleControlHandler, TRUE); }

bool Interrupted() { return InterlockedCompareExchange(&g_interrupted, 0, 0) != 0; }

void WatchOutput(AtomicOutputFile* file) {
  const OutputLock lock;
  g_watchedOutput = file;
  g_outputRemoved = false;
}

FileStatus CommitWatchedOutput(AtomicOutputFile& file) {
  // The long part, flushing, is done before the lock is taken.
  FileStatus status = file.Flush();
  const OutputLock lock;
  const bool removed = &file == g_watchedOutput && g_outputRemoved;
  if (status == FileStatus::Ok) status = removed ? FileStatus::CannotWrite : file.Commit();
  if (removed) file.Abandon();
  if (&file == g_watchedOutput) g_watchedOutput = nullptr;
  return status;
}

void AbandonWatchedOutput(AtomicOutputFile& file) {
  const OutputLock lock;
  file.Abandon();
  if (&file == g_watchedOutput) g_watchedOutput = nullptr;
}

bool GetEnvironmentText(const char* name, UserText* value) {
  const std::wstring wideName = NativeFromAscii(name);
  value->clear();
  // The size with the terminator; 0 when the variable is not set.
  DWORD size = GetEnvironmentVariableW(wideName.c_str(), nullptr, 0);
  while (size != 0) {
    value->resize(size);
    const DWORD length = GetEnvironmentVariableW(wideName.c_str(), value->data(), size);
    if (length < size) {
      value->resize(length);
      return true;
    }
    size = length;  // it grew meanwhile
  }
  return false;
}

bool IsTerminal(StdStream stream) { return IsConsole(StdHandle(stream)); }

bool StdinRemainingSize(std::uint64_t* size) {
  const HANDLE h = StdHandle(StdStream::kIn);
  if (h == nullptr || h == INVALID_HANDLE_VALUE || GetFileType(h) != FILE_TYPE_DISK) return false;
  LARGE_INTEGER total, position, zero;
  zero.QuadPart = 0;
  if (!GetFileSizeEx(h, &total) || !SetFilePointerEx(h, zero, &position, FILE_CURRENT)) return false;
  if (position.QuadPart > total.QuadPart) return false;
  *size = static_cast<std::uint64_t>(total.QuadPart - position.QuadPart);
  return true;
}

bool StdinIsFileAt(const NativeString& path) {
  const HANDLE h = StdHandle(StdStream::kIn);
  if (h == nullptr || h == INVALID_HANDLE_VALUE || GetFileType(h) != FILE_TYPE_DISK) return false;
  return IsOpenFileAt(reinterpret_cast<std::intptr_t>(h), path.c_str());
}

FileStatus StdinReader::Read(void* buffer, std::size_t n, std::size_t* got) {
  *got = 0;
  const HANDLE h = StdHandle(StdStream::kIn);
  if (h == nullptr || h == INVALID_HANDLE_VALUE) return FileStatus::Ok;  // no standard input: empty
  DWORD done = 0;
  if (!ReadFile(h, buffer, n < kChunk ? static_cast<DWORD>(n) : kChunk, &done, nullptr)) {
    // The writer closed its end of the pipe: that is the end of the input.
    if (GetLastError() == ERROR_BROKEN_PIPE) return FileStatus::Ok;
    return FileStatus::CannotRead;
  }
  *got = done;
  return Interrupted() ? FileStatus::CannotRead : FileStatus::Ok;
}

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
  const std::string withEnd = line + "\r\n";
  return Append(reinterpret_cast<const unsigned char*>(withEnd.data()), withEnd.size());
}

TextOutput::Result TextOutput::TextLine(const UserText& text) {
  const HANDLE out = StdHandle(StdStream::kOut);
  if (IsConsole(out)) {
    const Result flushed = Flush();
    if (flushed != Result::kOk) return flushed;
    if (!WriteConsoleText(out, text.data(), text.size()) || !WriteConsoleText(out, L"\n", 1)) {
      g_stdoutError = GetLastError();
      return Result::kCannotWrite;
    }
    return Result::kOk;
  }
  SecureBytes bytes;
  if (!text.empty()) {
    const int length = static_cast<int>(text.size());
    BOOL usedDefault = FALSE;
    const bool utf8 = GetACP() == CP_UTF8;
    const DWORD flags = utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
    const int needed =
        WideCharToMultiByte(CP_ACP, flags, text.data(), length, nullptr, 0, nullptr, utf8 ? nullptr : &usedDefault);
    if (needed <= 0 || usedDefault) return Result::kNotRepresentable;
    bytes.resize(static_cast<std::size_t>(needed));
    if (WideCharToMultiByte(CP_ACP, flags, text.data(), length, reinterpret_cast<char*>(bytes.data()), needed,
                            nullptr, utf8 ? nullptr : &usedDefault) != needed ||
        usedDefault)
      return Result::kNotRepresentable;
  }
  bytes.push_back('\r');
  bytes.push_back('\n');
  return Append(bytes.data(), bytes.size());
}

TextOutput::Result TextOutput::BytesLine(const SecureBytes& bytes) {
  if (!bytes.empty()) {
    const Result result = Append(bytes.data(), bytes.size());
    if (result != Result::kOk) return result;
  }
  const unsigned char end[2] = {'\r', '\n'};
  return Append(end, 2);
}

TextOutput::Result TextOutput::Flush() {
  if (buffer_.empty()) return Result::kOk;
  const bool ok = WriteStdout(buffer_.data(), buffer_.size());
  buffer_.clear();
  return ok ? Result::kOk : Result::kCannotWrite;
}

bool WriteDisplay(StdStream stream, const std::string& text) {
  const HANDLE h = StdHandle(stream);
  const std::wstring wide = FromUtf8(text);
  bool ok = false;
  if (IsConsole(h)) {
    ok = WriteConsoleText(h, wide.data(), wide.size());
  } else if (stream == StdStream::kOut) {
    // Text to a file or pipe ends its lines as Windows tools do.
    const std::string bytes = WithCrLf(Narrow(wide, CP_ACP));
    ok = WriteAll(h, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), &g_stdoutBytes);
  } else {
    const std::string bytes = Narrow(wide, CP_ACP);
    ok = WriteAll(h, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
  }
  if (!ok && stream == StdStream::kOut) g_stdoutError = GetLastError();
  return ok;
}

bool WriteStdoutBytes(const std::string& bytes) {
  const std::string text = WithCrLf(bytes);
  return WriteStdout(reinterpret_cast<const unsigned char*>(text.data()), text.size());
}

std::string StdoutWriteProblem() {
  if (g_stdoutError == ERROR_NO_DATA || g_stdoutError == ERROR_BROKEN_PIPE)
    return "the program reading it has closed the pipe";
  if (g_stdoutError == ERROR_DISK_FULL || g_stdoutError == ERROR_HANDLE_DISK_FULL) return "no space left on the device";
  return SystemErrorText(g_stdoutError);
}

std::string SystemErrorText(std::uint32_t code) {
  wchar_t* text = nullptr;
  const DWORD n = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
      MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring wide = n != 0 && text != nullptr ? std::wstring(text, n) : std::wstring();
  if (text != nullptr) LocalFree(text);
  while (!wide.empty() && (wide.back() == L'\r' || wide.back() == L'\n' || wide.back() == L'.' || wide.back() == L' '))
    wide.pop_back();
  std::string utf8 = Display(wide);
  if (!utf8.empty() && utf8[0] >= 'A' && utf8[0] <= 'Z' && (utf8.size() < 2 || utf8[1] < 'A' || utf8[1] > 'Z'))
    utf8[0] = static_cast<char>(utf8[0] - 'A' + 'a');
  return (utf8.empty() ? std::string("system error") : utf8) + " (error " + std::to_string(code) + ")";
}

bool StdinBytesToText(const unsigned char* bytes, std::size_t n, UserText* text) {
  const HANDLE in = StdHandle(StdStream::kIn);
  return BytesToText(IsConsole(in) ? GetConsoleCP() : CP_ACP, bytes, n, text);
}

bool FileBytesToText(const unsigned char* bytes, std::size_t n, UserText* text) {
  return BytesToText(CP_ACP, bytes, n, text);
}

std::string LocalEncodingName() { return "code page " + std::to_string(GetACP()); }

FileStatus ReadKeySourceFile(const NativeChar* path, std::size_t limit, SecureBytes* content, std::string* problem) {
  content->clear();
  InputFile file;
  const FileStatus status = file.Open(path);
  if (status == FileStatus::OutOfMemory) return status;
  if (status == FileStatus::Ok) {
    std::uint64_t size = 0;
    if (file.Size(&size) != FileStatus::Ok) {
      *problem = DescribeProblem(file.Problem(), file.SystemError());
      return FileStatus::CannotRead;
    }
    content->resize(static_cast<std::size_t>(size < limit ? size : limit + 1));
    if (!content->empty() && file.ReadExact(content->data(), content->size()) != FileStatus::Ok) {
      *problem = DescribeProblem(file.Problem(), file.SystemError());
      return FileStatus::CannotRead;
    }
    return FileStatus::Ok;
  }
  if (file.Problem() != FileProblem::kNotRegular) {
    *problem = DescribeProblem(file.Problem(), file.SystemError());
    return FileStatus::CannotOpen;
  }
  // A named pipe or a device: read to its end.
  const Handle h(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, 0, nullptr));
  if (h.Get() == INVALID_HANDLE_VALUE) {
    *problem = SystemErrorText(GetLastError());
    return FileStatus::CannotOpen;
  }
  unsigned char buffer[4096];
  FileStatus result = FileStatus::Ok;
  while (content->size() <= limit) {
    DWORD got = 0;
    if (!ReadFile(h.Get(), buffer, sizeof buffer, &got, nullptr)) {
      if (GetLastError() == ERROR_BROKEN_PIPE) break;  // the writer is done
      *problem = SystemErrorText(GetLastError());
      result = FileStatus::CannotRead;
      break;
    }
    if (got == 0) break;
    content->insert(content->end(), buffer, buffer + got);
  }
  SecureWipe(buffer, sizeof buffer);
  return result;
}

PromptResult ReadSecretFromTerminal(const char* prompt, UserText* answer) {
  answer->clear();
  const Handle in(CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr));
  const Handle out(CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, 0, nullptr));
  if (!IsConsole(in.Get()) || !IsConsole(out.Get())) return PromptResult::kNoTerminal;
  {
    const EchoOff echoOff(in.Get());
    if (!echoOff.Active()) return PromptResult::kNoTerminal;
    const std::wstring text = NativeFromAscii(prompt);
    if (!WriteConsoleText(out.Get(), text.data(), text.size())) return PromptResult::kFailed;
    for (;;) {
      wchar_t c = 0;
      DWORD got = 0;
      if (!ReadConsoleW(in.Get(), &c, 1, &got, nullptr) || got == 0 || Interrupted()) break;
      if (c == L'\n') break;
      if (c != L'\r') answer->push_back(c);
    }
  }
  WriteConsoleText(out.Get(), L"\r\n", 2);
  if (Interrupted()) {
    answer->clear();
    return PromptResult::kInterrupted;
  }
  return PromptResult::kOk;
}

TemporaryFile::~TemporaryFile() {
  if (handle_ != -1) CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

std::string TemporaryFile::Folder() {
  wchar_t folder[MAX_PATH + 1];
  const DWORD n = GetTempPathW(MAX_PATH + 1, folder);
  return n == 0 || n > MAX_PATH ? std::string("the temporary folder") : Display(NativeView(folder, n));
}

FileStatus TemporaryFile::Create() noexcept {
  try {
    wchar_t folder[MAX_PATH + 1];
    const DWORD n = GetTempPathW(MAX_PATH + 1, folder);
    if (n == 0 || n > MAX_PATH) {
      error_ = n == 0 ? GetLastError() : ERROR_FILENAME_EXCED_RANGE;
      return FileStatus::CannotWrite;
    }
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
      wchar_t name[64];
      std::swprintf(name, 64, L"corvane-%lx-%x.tmp", static_cast<unsigned long>(GetCurrentProcessId()),
                    GetTickCount() + attempt);
      const std::wstring path = std::wstring(folder, n) + name;
      // Deleted by the system when closed, even if the process ends abruptly.
      const HANDLE h = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                   FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
      if (h != INVALID_HANDLE_VALUE) {
        handle_ = reinterpret_cast<std::intptr_t>(h);
        return FileStatus::Ok;
      }
      error_ = GetLastError();
      if (error_ != ERROR_FILE_EXISTS && error_ != ERROR_ALREADY_EXISTS) break;
    }
    return FileStatus::CannotWrite;
  } catch (const std::bad_alloc&) {
    return FileStatus::OutOfMemory;
  }
}

FileStatus TemporaryFile::Write(const void* data, std::size_t n) {
  if (WriteAll(reinterpret_cast<HANDLE>(handle_), static_cast<const unsigned char*>(data), n)) return FileStatus::Ok;
  error_ = GetLastError();
  return FileStatus::CannotWrite;
}

FileStatus TemporaryFile::Rewind() noexcept {
  LARGE_INTEGER zero;
  zero.QuadPart = 0;
  if (handle_ == -1 || !SetFilePointerEx(reinterpret_cast<HANDLE>(handle_), zero, nullptr, FILE_BEGIN))
    return FileStatus::CannotRead;
  return FileStatus::Ok;
}

FileStatus TemporaryFile::Read(void* buffer, std::size_t n, std::size_t* got) {
  *got = 0;
  if (handle_ == -1) return FileStatus::CannotRead;
  DWORD done = 0;
  if (!ReadFile(reinterpret_cast<HANDLE>(handle_), buffer, n < kChunk ? static_cast<DWORD>(n) : kChunk, &done,
                nullptr))
    return FileStatus::CannotRead;
  *got = done;
  return FileStatus::Ok;
}

}  // namespace corvane::cli
