#include <windows.h>

#include <algorithm>
#include <cwctype>
#include <stdexcept>
#include <thread>

#include "tests/cli/child_process.h"

namespace corvane::test {
namespace {

std::wstring Widen(const std::string& utf8) {
  if (utf8.empty()) return std::wstring();
  const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &wide[0], n);
  return wide;
}

// One argument as the C runtime's command-line parser reads it back.
std::wstring Quote(const std::wstring& argument) {
  if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) return argument;
  std::wstring quoted = L"\"";
  for (std::size_t i = 0;; ++i) {
    std::size_t backslashes = 0;
    while (i < argument.size() && argument[i] == L'\\') {
      ++i;
      ++backslashes;
    }
    if (i == argument.size()) {
      quoted.append(backslashes * 2, L'\\');
      break;
    }
    if (argument[i] == L'"') {
      quoted.append(backslashes * 2 + 1, L'\\');
    } else {
      quoted.append(backslashes, L'\\');
    }
    quoted += argument[i];
  }
  return quoted + L"\"";
}

std::wstring Upper(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(std::towupper(c));
  return text;
}

HANDLE InheritableTemporaryFile() {
  wchar_t folder[MAX_PATH + 1];
  GetTempPathW(MAX_PATH + 1, folder);
  wchar_t name[MAX_PATH + 1];
  GetTempFileNameW(folder, L"cvc", 0, name);
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  const HANDLE h = CreateFileW(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (h == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot create a temporary file");
  return h;
}

void WriteAll(HANDLE h, const std::string& data) {
  const char* p = data.data();
  std::size_t n = data.size();
  while (n != 0) {
    DWORD done = 0;
    const DWORD part = n < (1u << 20) ? static_cast<DWORD>(n) : (1u << 20);
    if (!WriteFile(h, p, part, &done, nullptr) || done == 0) return;  // the child stopped reading
    p += done;
    n -= done;
  }
}

std::string ReadAllFrom(HANDLE h) {
  LARGE_INTEGER zero;
  zero.QuadPart = 0;
  SetFilePointerEx(h, zero, nullptr, FILE_BEGIN);
  std::string text;
  char buffer[65536];
  DWORD n = 0;
  while (ReadFile(h, buffer, sizeof buffer, &n, nullptr) && n != 0) text.append(buffer, n);
  return text;
}

}  // namespace

struct ChildProcess::State {
  PROCESS_INFORMATION process{};
  HANDLE in = INVALID_HANDLE_VALUE, out = INVALID_HANDLE_VALUE, err = INVALID_HANDLE_VALUE;
  HANDLE inputPipe = INVALID_HANDLE_VALUE, outputPipe = INVALID_HANDLE_VALUE;  // interactive: the parent's ends
  std::thread writer;
  int timeoutSeconds = 60;
  bool waited = false;
  ProcessResult result;
};

ChildProcess::ChildProcess(const std::filesystem::path& program, const ProcessRequest& request) : state_(new State) {
  State& s = *state_;
  s.timeoutSeconds = request.timeoutSeconds;
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  if (request.interactive) {
    if (!CreatePipe(&s.outputPipe, &s.out, &inherit, 1 << 16)) throw std::runtime_error("CreatePipe failed");
    SetHandleInformation(s.outputPipe, HANDLE_FLAG_INHERIT, 0);
  } else {
    s.out = InheritableTemporaryFile();
  }
  s.err = InheritableTemporaryFile();
  HANDLE closedPipe = INVALID_HANDLE_VALUE;  // the writing end of a pipe nobody reads
  if (request.stdoutClosedPipe) {
    HANDLE readEnd = INVALID_HANDLE_VALUE;
    if (!CreatePipe(&readEnd, &closedPipe, &inherit, 0)) throw std::runtime_error("CreatePipe failed");
    CloseHandle(readEnd);
  }
  HANDLE pipeWrite = INVALID_HANDLE_VALUE;
  if (request.interactive && request.stdinMode == StdinMode::kPipe) {
    if (!CreatePipe(&s.in, &s.inputPipe, &inherit, 1 << 16)) throw std::runtime_error("CreatePipe failed");
    SetHandleInformation(s.inputPipe, HANDLE_FLAG_INHERIT, 0);
  } else switch (request.stdinMode) {
    case StdinMode::kNull:
      s.in = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0, nullptr);
      break;
    case StdinMode::kFile:
      s.in = InheritableTemporaryFile();
      WriteAll(s.in, request.input);
      {
        LARGE_INTEGER zero;
        zero.QuadPart = 0;
        SetFilePointerEx(s.in, zero, nullptr, FILE_BEGIN);
      }
      break;
    case StdinMode::kNamedFile:
      s.in = CreateFileW(request.stdinPath.wstring().c_str(), GENERIC_READ,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inherit, OPEN_EXISTING, 0, nullptr);
      if (s.in == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot open " + request.stdinPath.string());
      break;
    case StdinMode::kPipe:
      if (!CreatePipe(&s.in, &pipeWrite, &inherit, 1 << 16)) throw std::runtime_error("CreatePipe failed");
      SetHandleInformation(pipeWrite, HANDLE_FLAG_INHERIT, 0);  // the child must see the end
      break;
  }

  std::wstring commandLine = Quote(program.wstring());
  for (const std::string& argument : request.args) commandLine += L" " + Quote(Widen(argument));

  // The inherited environment without CORVANE_KEY and the names set or removed here.
  std::vector<std::wstring> entries;
  wchar_t* block = GetEnvironmentStringsW();
  for (const wchar_t* e = block; *e != L'\0'; e += wcslen(e) + 1) {
    const std::wstring entry(e);
    const std::size_t equals = entry.find(L'=', 1);
    const std::wstring name = Upper(entry.substr(0, equals));
    bool keep = name != L"CORVANE_KEY";
    for (const auto& change : request.env) keep = keep && Upper(Widen(change.first)) != name;
    if (keep) entries.push_back(entry);
  }
  FreeEnvironmentStringsW(block);
  for (const auto& [name, value] : request.env)
    if (value) entries.push_back(Widen(name) + L"=" + Widen(*value));
  std::sort(entries.begin(), entries.end(), [](const std::wstring& a, const std::wstring& b) { return Upper(a) < Upper(b); });
  std::wstring environment;
  for (const std::wstring& entry : entries) environment += entry + L'\0';
  environment += L'\0';

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = s.in;
  startup.hStdOutput = closedPipe != INVALID_HANDLE_VALUE ? closedPipe : s.out;
  startup.hStdError = s.err;
  const std::wstring workDir = request.workDir.wstring();
  // No console: the child can never prompt, as on a service or in a scheduled job.
  // Under load, Wine now and then reports ERROR_INTERNAL_ERROR for a child that died while
  // it was being started, before any code of its own ran: such a start is tried again.
  for (int attempt = 1;; ++attempt) {
    if (CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, TRUE, CREATE_UNICODE_ENVIRONMENT | DETACHED_PROCESS,
                       &environment[0], workDir.empty() ? nullptr : workDir.c_str(), &startup, &s.process))
      break;
    const DWORD error = GetLastError();
    if (error != ERROR_INTERNAL_ERROR || attempt == 3)
      throw std::runtime_error("CreateProcessW failed: " + std::to_string(error));
    if (request.stdinMode == StdinMode::kFile || request.stdinMode == StdinMode::kNamedFile) {
      LARGE_INTEGER zero;
      zero.QuadPart = 0;
      SetFilePointerEx(s.in, zero, nullptr, FILE_BEGIN);
    }
  }
  if (closedPipe != INVALID_HANDLE_VALUE) CloseHandle(closedPipe);
  if (request.interactive) {  // only the child holds these ends now
    if (s.inputPipe != INVALID_HANDLE_VALUE) {
      CloseHandle(s.in);
      s.in = INVALID_HANDLE_VALUE;
    }
    CloseHandle(s.out);
    s.out = INVALID_HANDLE_VALUE;
  }
  if (pipeWrite != INVALID_HANDLE_VALUE) {
    CloseHandle(s.in);
    s.in = INVALID_HANDLE_VALUE;
    s.writer = std::thread([pipeWrite, input = request.input] {
      WriteAll(pipeWrite, input);
      CloseHandle(pipeWrite);
    });
  }
}

ChildProcess::~ChildProcess() {
  State& s = *state_;
  if (!s.waited && s.process.hProcess != nullptr) {
    TerminateProcess(s.process.hProcess, 1);
    WaitForSingleObject(s.process.hProcess, INFINITE);
  }
  if (s.writer.joinable()) s.writer.join();
  for (HANDLE h : {s.in, s.out, s.err, s.inputPipe, s.outputPipe})
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  if (s.process.hProcess != nullptr) CloseHandle(s.process.hProcess);
  if (s.process.hThread != nullptr) CloseHandle(s.process.hThread);
  delete state_;
}

void ChildProcess::SendInput(const std::string& data) {
  if (state_->inputPipe != INVALID_HANDLE_VALUE) WriteAll(state_->inputPipe, data);
}

void ChildProcess::CloseInput() {
  if (state_->inputPipe != INVALID_HANDLE_VALUE) CloseHandle(state_->inputPipe);
  state_->inputPipe = INVALID_HANDLE_VALUE;
}

std::string ChildProcess::ReadOutputLine(int timeoutMs) {
  std::string line;
  const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(timeoutMs);
  while (state_->outputPipe != INVALID_HANDLE_VALUE && (line.empty() || line.back() != '\n') &&
         GetTickCount64() < deadline) {
    DWORD available = 0;
    if (!PeekNamedPipe(state_->outputPipe, nullptr, 0, nullptr, &available, nullptr)) break;
    if (available == 0) {
      Sleep(5);
      continue;
    }
    char c = 0;
    DWORD n = 0;
    if (!ReadFile(state_->outputPipe, &c, 1, &n, nullptr) || n != 1) break;
    line += c;
  }
  return line;
}

ProcessResult ChildProcess::Wait() {
  State& s = *state_;
  if (s.waited) return s.result;
  if (WaitForSingleObject(s.process.hProcess, static_cast<DWORD>(s.timeoutSeconds) * 1000) != WAIT_OBJECT_0) {
    TerminateProcess(s.process.hProcess, 1);
    WaitForSingleObject(s.process.hProcess, INFINITE);
    s.result.err += "\n<killed after " + std::to_string(s.timeoutSeconds) + " s>";
  }
  DWORD code = 0;
  GetExitCodeProcess(s.process.hProcess, &code);
  if (s.writer.joinable()) s.writer.join();
  s.waited = true;
  s.result.exitCode = static_cast<int>(code);
  if (s.outputPipe != INVALID_HANDLE_VALUE) {
    CloseInput();
    char buffer[65536];
    DWORD n = 0;
    while (ReadFile(s.outputPipe, buffer, sizeof buffer, &n, nullptr) && n != 0) s.result.out.append(buffer, n);
  } else {
    s.result.out = ReadAllFrom(s.out);
  }
  s.result.err = ReadAllFrom(s.err) + s.result.err;
  return s.result;
}

}  // namespace corvane::test
