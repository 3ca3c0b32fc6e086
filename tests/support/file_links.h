// Symbolic and hard links for the tests of the output path, made as the platform makes
// them. Wine's CreateSymbolicLinkW makes nothing (and reports success); a Unix link made
// by ln is what users of Wine meet, and Wine shows it as a plain file. On Windows the
// system's own calls make them (a symbolic link needs the privilege or developer mode).
#pragma once

#include <windows.h>

#include <filesystem>
#include <string>

namespace corvane::test {

inline bool RunningOnWine() {
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

namespace links_detail {

// Runs the Unix ln in folder and waits until link exists: Wine starts a Unix program
// without a process handle to wait for.
inline bool UnixLn(const std::filesystem::path& folder, const std::wstring& arguments,
                   const std::filesystem::path& link) {
  std::wstring command = L"Z:\\bin\\ln " + arguments;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &startup,
                      &process))
    return false;
  if (process.hThread != nullptr) CloseHandle(process.hThread);
  if (process.hProcess != nullptr) CloseHandle(process.hProcess);
  for (int i = 0; i < 1000; ++i) {
    if (GetFileAttributesW(link.c_str()) != INVALID_FILE_ATTRIBUTES) return true;
    Sleep(10);
  }
  return false;
}

}  // namespace links_detail

// A symbolic link at folder\name leading to target (relative to folder); false when the
// platform or the account cannot make one.
inline bool MakeSymbolicLink(const std::filesystem::path& folder, const std::wstring& name,
                             const std::wstring& target) {
  const std::filesystem::path link = folder / name;
  if (RunningOnWine()) {
    std::wstring unixTarget = target;
    for (wchar_t& c : unixTarget)
      if (c == L'\\') c = L'/';
    return links_detail::UnixLn(folder, L"-s \"" + unixTarget + L"\" \"" + name + L"\"", link);
  }
  constexpr DWORD kUnprivileged = 0x2;  // SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE
  return CreateSymbolicLinkW(link.c_str(), target.c_str(), kUnprivileged) ||
         CreateSymbolicLinkW(link.c_str(), target.c_str(), 0);
}

// A second name folder\name for the file folder\target.
inline bool MakeHardLink(const std::filesystem::path& folder, const std::wstring& name, const std::wstring& target) {
  if (CreateHardLinkW((folder / name).c_str(), (folder / target).c_str(), nullptr)) return true;
  return RunningOnWine() && links_detail::UnixLn(folder, L"\"" + target + L"\" \"" + name + L"\"", folder / name);
}

// Whether the system shows the entry at path as a link of its own (a reparse point).
inline bool ShownAsLink(const std::filesystem::path& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

}  // namespace corvane::test
