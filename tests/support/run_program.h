// Runs a Windows command line to its end, for tests that drive system tools (regsvr32).
#pragma once

#include <windows.h>

#include <string>

namespace corvane::test {

constexpr DWORD kCannotStart = 0xFFFFFFFF;

// The program's exit code, or kCannotStart when it could not be started.
inline DWORD RunProgram(std::wstring commandLine) {
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
    return kCannotStart;
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = kCannotStart;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return code;
}

}  // namespace corvane::test
