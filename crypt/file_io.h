// Whole-file reading and all-or-nothing file writing, over the platform's file API.
// Paths are 8-bit text: on Windows in the ANSI code page (as the "A" functions take
// them), elsewhere the bytes the file system uses. No exceptions and no C++ runtime
// allocation: paths live in the helper heap.
#pragma once

#include <cstddef>
#include <cstdint>

#include "crypt/replace_rules.h"

namespace corvane {

enum class FileStatus {
  Ok,
  CannotOpen,  // missing, a folder, not a regular file, no access, or a path that cannot be represented
  CannotRead,
  CannotWrite,
  OutOfMemory,
};

// Whether the open file behind handle (a descriptor on POSIX, a HANDLE on Windows) is the
// one path names, under whatever spelling or link; false when path names nothing.
#ifdef _WIN32
bool IsOpenFileAt(std::intptr_t handle, const wchar_t* path) noexcept;
#else
bool IsOpenFileAt(std::intptr_t handle, const char* path) noexcept;
#endif

// Inputs are opened so that another program may keep writing them (a log file): on
// Windows with read and write sharing, as the system's own copy and type open them.
class InputFile {
 public:
  InputFile() = default;
  ~InputFile() { Close(); }
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  // Only regular files open; a FIFO or a device is refused without waiting for a writer.
  FileStatus Open(const char* path) noexcept;
#ifdef _WIN32
  // The same with a UTF-16 path, for programs that take paths beyond the ANSI code page.
  FileStatus Open(const wchar_t* path) noexcept;
#endif
  FileStatus Size(std::uint64_t* size) const noexcept;
  // Whether path names the open file itself, under whatever spelling or link; false when
  // nothing is open or path names nothing.
#ifdef _WIN32
  bool IsFileAt(const wchar_t* path) const noexcept;
#endif
  // The same with an 8-bit path, read as Open(const char*) reads it.
  bool IsFileAt(const char* path) const noexcept;
  // Reads up to n bytes; *got is 0 only at the end of the file.
  FileStatus Read(void* buffer, std::size_t n, std::size_t* got) noexcept;
  // Reads exactly n bytes; a file that ends sooner is a read failure.
  FileStatus ReadExact(void* buffer, std::size_t n) noexcept;
  void Close() noexcept;

  // The cause of the last failure, and the system's own error code for it.
  FileProblem Problem() const noexcept { return problem_; }
  std::uint32_t SystemError() const noexcept { return systemError_; }

 private:
  FileStatus Fail(FileStatus status, FileProblem problem, std::uint32_t systemError) noexcept;

  std::intptr_t handle_ = -1;
  FileProblem problem_ = FileProblem::kNone;
  std::uint32_t systemError_ = 0;
};

// Writes a temporary file beside the target and moves it over the target on Commit,
// so the target is either left as it was or replaced by the complete new content. The
// content reaches the disk before the move, so this holds across a crash as well.
// Replacing keeps the target's permissions: on Windows its ACL and attributes (through
// ReplaceFileW), elsewhere its mode, and its owner and group where the process may set
// them. Read-only files, folders, symbolic links and anything but a regular file at the
// output path are refused and left as they are. Where the system cannot report links
// (Wine, volumes without reparse points) the temporary file is renamed over the target
// instead: that replaces the output path's own entry, a link included, and never touches
// the file a link leads to. The temporary name is never longer than
// the target's own when the usual one would pass a limit (see replace_rules.h).
class AtomicOutputFile {
 public:
  AtomicOutputFile() = default;
  ~AtomicOutputFile() { Abandon(); }
  AtomicOutputFile(const AtomicOutputFile&) = delete;
  AtomicOutputFile& operator=(const AtomicOutputFile&) = delete;

  FileStatus Create(const char* path) noexcept;
#ifdef _WIN32
  FileStatus Create(const wchar_t* path) noexcept;
  // The temporary file's full path while it exists, else null.
  const wchar_t* TemporaryPath() const noexcept { return temporaryExists_ ? temporary_ : nullptr; }
#endif
  // A failing Write or Flush leaves the temporary file for Commit or Abandon.
  FileStatus Write(const void* data, std::size_t n) noexcept;
  // Flushes what was written to the disk; Commit flushes too (quickly, if this ran).
  FileStatus Flush() noexcept;
  // On failure the temporary file is gone and the target as it was.
  FileStatus Commit() noexcept;
  // Closes and deletes the temporary file, if one is open; the target is untouched.
  void Abandon() noexcept;

  // The cause of the last failure, and the system's own error code for it.
  FileProblem Problem() const noexcept { return problem_; }
  std::uint32_t SystemError() const noexcept { return systemError_; }

 private:
  // Abandons the file and records the cause; Note only records it.
  FileStatus Fail(FileProblem problem, std::uint32_t systemError) noexcept;
  FileStatus Note(FileProblem problem, std::uint32_t systemError) noexcept;
  // Frees the paths and closes the folder; the temporary file stays where it is.
  void Release() noexcept;

  std::intptr_t handle_ = -1;
#ifdef _WIN32
  wchar_t* target_ = nullptr;     // full path, in the helper heap
  wchar_t* temporary_ = nullptr;  // full path, in the helper heap
#else
  int folder_ = -1;                 // the target's folder: names are resolved in it
  bool syncFolder_ = false;         // whether the folder could be opened to be flushed
  unsigned char* block_ = nullptr;  // helper heap: the folder's path and the two names
  char* target_ = nullptr;          // the target's name in its folder
  char* temporary_ = nullptr;       // the temporary name
#endif
  bool temporaryExists_ = false;
#ifdef _WIN32
  bool useReplaceFile_ = false;  // ReplaceFileW may be used (see Commit), else a rename
#endif
  FileProblem problem_ = FileProblem::kNone;
  std::uint32_t systemError_ = 0;
};

}  // namespace corvane
