// Whole-file reading and all-or-nothing file writing, over the platform's file API.
// Paths are 8-bit text: on Windows in the ANSI code page (as the "A" functions take
// them), elsewhere the bytes the file system uses.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace corvane {

enum class FileStatus {
  Ok,
  CannotOpen,   // missing, a folder, no access, or a path that cannot be represented
  CannotRead,
  CannotWrite,
  OutOfMemory,
};

class InputFile {
 public:
  InputFile() = default;
  ~InputFile() { Close(); }
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  FileStatus Open(const char* path) noexcept;
#ifdef _WIN32
  // The same with a UTF-16 path, for programs that take paths beyond the ANSI code page.
  FileStatus Open(const wchar_t* path) noexcept;
#endif
  FileStatus Size(std::uint64_t* size) const noexcept;
  // Reads up to n bytes; *got is 0 only at the end of the file.
  FileStatus Read(void* buffer, std::size_t n, std::size_t* got) noexcept;
  // Reads exactly n bytes; a file that ends sooner is a read failure.
  FileStatus ReadExact(void* buffer, std::size_t n) noexcept;
  void Close() noexcept;

 private:
  std::intptr_t handle_ = -1;
};

// Writes a temporary file beside the target and moves it over the target on Commit,
// so the target is either left as it was or replaced by the complete new content.
class AtomicOutputFile {
 public:
  AtomicOutputFile() = default;
  ~AtomicOutputFile() { Abandon(); }
  AtomicOutputFile(const AtomicOutputFile&) = delete;
  AtomicOutputFile& operator=(const AtomicOutputFile&) = delete;

  FileStatus Create(const char* path) noexcept;
#ifdef _WIN32
  FileStatus Create(const wchar_t* path) noexcept;
#endif
  FileStatus Write(const void* data, std::size_t n) noexcept;
  FileStatus Commit() noexcept;
  // Closes and deletes the temporary file, if one is open; the target is untouched.
  void Abandon() noexcept;

 private:
  std::intptr_t handle_ = -1;
#ifdef _WIN32
  // Owned, from the helper heap (no runtime allocation in the DLL); null when absent.
  wchar_t* target_ = nullptr;
  wchar_t* temporary_ = nullptr;
#else
  std::string target_;
  std::string temporary_;
#endif
};

}  // namespace corvane
