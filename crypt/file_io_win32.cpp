#include <windows.h>

#include <atomic>
#include <cstring>
#include <cwchar>

#include "file_io.h"
#include "helper_heap.h"

namespace corvane {
namespace {

constexpr DWORD kChunk = DWORD{1} << 30;
constexpr std::size_t kPageSize = 4096;  // the smallest page size of Windows on x86 and x64

static_assert(windows_bits::kInvalidAttributes == INVALID_FILE_ATTRIBUTES &&
                  windows_bits::kReadOnly == FILE_ATTRIBUTE_READONLY &&
                  windows_bits::kFolder == FILE_ATTRIBUTE_DIRECTORY && windows_bits::kDevice == FILE_ATTRIBUTE_DEVICE &&
                  windows_bits::kReparsePoint == FILE_ATTRIBUTE_REPARSE_POINT &&
                  windows_bits::kSymbolicLinkTag == IO_REPARSE_TAG_SYMLINK &&
                  kVolumeSupportsReparsePoints == FILE_SUPPORTS_REPARSE_POINTS,
              "the portable rules use the system's values");

std::atomic<unsigned> g_temporaryCounter{0};

HANDLE AsHandle(std::intptr_t h) { return reinterpret_cast<HANDLE>(h); }

wchar_t* AllocateWide(std::size_t characters) {
  if (characters > SIZE_MAX / sizeof(wchar_t)) return nullptr;
  return reinterpret_cast<wchar_t*>(HelperAllocate(characters * sizeof(wchar_t)));
}
void FreeWide(wchar_t* p) { HelperFree(reinterpret_cast<unsigned char*>(p)); }

// The path as the "A" file functions would read it: strict, in the ANSI code page, in a
// new helper-heap block. Null with *outOfMemory false when it cannot be represented.
wchar_t* WidenPath(const char* path, bool* outOfMemory) {
  *outOfMemory = false;
  if (path == nullptr || *path == '\0') return nullptr;
  const int needed = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, path, -1, nullptr, 0);
  if (needed <= 0) return nullptr;
  wchar_t* wide = AllocateWide(static_cast<std::size_t>(needed));
  if (wide == nullptr) {
    *outOfMemory = true;
    return nullptr;
  }
  if (MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, path, -1, wide, needed) != needed) {
    FreeWide(wide);
    return nullptr;
  }
  return wide;
}

FileProblem ProblemOf(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_BAD_NETPATH:
    case ERROR_INVALID_DRIVE:
      return FileProblem::kNotFound;
    case ERROR_ACCESS_DENIED:
      return FileProblem::kNoAccess;
    case ERROR_WRITE_PROTECT:
      return FileProblem::kReadOnlyFileSystem;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_UNABLE_TO_REMOVE_REPLACED:
    case ERROR_USER_MAPPED_FILE:
      return FileProblem::kInUse;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return FileProblem::kNoSpace;
    case ERROR_FILENAME_EXCED_RANGE:
    case ERROR_BUFFER_OVERFLOW:
      return FileProblem::kNameTooLong;
    case ERROR_INVALID_NAME:
    case ERROR_DIRECTORY:
    case ERROR_BAD_PATHNAME:
      return FileProblem::kBadName;
    default:
      return FileProblem::kOther;
  }
}

// What is at the path now. A symbolic link shows as a reparse point whose tag says so.
TargetKind Classify(const wchar_t* path) {
  const DWORD attributes = GetFileAttributesW(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    // Anything but absence: the replacement itself finds out what it is.
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? TargetKind::kMissing : TargetKind::kFile;
  }
  DWORD tag = 0;
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    const HANDLE h =
        CreateFileW(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                    OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      FILE_ATTRIBUTE_TAG_INFO info{};
      if (GetFileInformationByHandleEx(h, FileAttributeTagInfo, &info, sizeof info)) tag = info.ReparseTag;
      CloseHandle(h);
    }
  }
  return WindowsTargetKind(attributes, tag);
}

// Whether the target could be taken away now: another program holding it open without
// delete sharing prevents it, and so do missing permissions. Asked before ReplaceFileW,
// which on Wine leaves an empty "rf*.tmp" file behind when it fails that way, and
// after a failure, for the cause ("access denied" covers both).
FileProblem WhyNotRemovable(const wchar_t* target) {
  const HANDLE h = CreateFileW(target, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h != INVALID_HANDLE_VALUE) {
    CloseHandle(h);
    return FileProblem::kNone;
  }
  const DWORD error = GetLastError();
  if (error == ERROR_FILE_NOT_FOUND) return FileProblem::kNone;  // gone meanwhile: the replacement says what next
  return error == ERROR_SHARING_VIOLATION ? FileProblem::kInUse : ProblemOf(error);
}

FileProblem WhyNotReplaced(const wchar_t* target, DWORD error) {
  if (error != ERROR_ACCESS_DENIED) return ProblemOf(error);
  const FileProblem problem = WhyNotRemovable(target);
  return problem == FileProblem::kNone ? FileProblem::kNoAccess : problem;
}

bool StartsWithPrefix(const wchar_t* path) { return std::wcsncmp(path, L"\\\\?\\", 4) == 0; }

// See ReplaceFileMayBeUsed: asked of the temporary file, which is on the target's volume.
bool ReplaceFileMayBeUsedFor(HANDLE fileOnTheVolume) {
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  const bool onWine = ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
  DWORD flags = 0;
  const bool known =
      GetVolumeInformationByHandleW(fileOnTheVolume, nullptr, 0, nullptr, nullptr, &flags, nullptr, 0) != FALSE;
  return ReplaceFileMayBeUsed(onWine, known, flags);
}

}  // namespace

FileStatus InputFile::Fail(FileStatus status, FileProblem problem, std::uint32_t systemError) noexcept {
  problem_ = problem;
  systemError_ = systemError;
  return status;
}

FileStatus InputFile::Open(const char* path) noexcept {
  Close();
  bool outOfMemory = false;
  wchar_t* wide = WidenPath(path, &outOfMemory);
  if (outOfMemory) return Fail(FileStatus::OutOfMemory, FileProblem::kNone, 0);
  if (wide == nullptr)
    return Fail(FileStatus::CannotOpen,
                path == nullptr || *path == '\0' ? FileProblem::kNotFound : FileProblem::kBadName,
                ERROR_NO_UNICODE_TRANSLATION);
  const FileStatus status = Open(wide);
  FreeWide(wide);
  return status;
}

FileStatus InputFile::Open(const wchar_t* path) noexcept {
  Close();
  problem_ = FileProblem::kNone;
  if (path == nullptr || *path == L'\0')
    return Fail(FileStatus::CannotOpen, FileProblem::kNotFound, ERROR_FILE_NOT_FOUND);
  // Write sharing: a file that another program keeps open for writing (a service's log)
  // can be read, as the system's own copy reads it. The size is taken once, so a file
  // that grows meanwhile is read as it was then.
  const HANDLE h = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    // A folder cannot be opened as a file; the system calls that "access denied".
    const DWORD attributes = error == ERROR_ACCESS_DENIED ? GetFileAttributesW(path) : INVALID_FILE_ATTRIBUTES;
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
      return Fail(FileStatus::CannotOpen, FileProblem::kFolder, error);
    return Fail(FileStatus::CannotOpen, ProblemOf(error), error);
  }
  if (GetFileType(h) != FILE_TYPE_DISK) {  // devices and pipes are not files
    CloseHandle(h);
    return Fail(FileStatus::CannotOpen, FileProblem::kNotRegular, 0);
  }
  handle_ = reinterpret_cast<std::intptr_t>(h);
  return FileStatus::Ok;
}

FileStatus InputFile::Size(std::uint64_t* size) const noexcept {
  LARGE_INTEGER value;
  if (handle_ == -1 || !GetFileSizeEx(AsHandle(handle_), &value)) return FileStatus::CannotRead;
  *size = static_cast<std::uint64_t>(value.QuadPart);
  return FileStatus::Ok;
}

bool IsOpenFileAt(std::intptr_t handle, const wchar_t* path) noexcept {
  if (handle == -1 || handle == 0 || path == nullptr) return false;
  // No access asked for: it opens whatever sharing the input was opened with.
  const HANDLE named = CreateFileW(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (named == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION a, b;
  // Some network file systems give every file the index 0: there nothing can be told apart,
  // and refusing every existing output would be worse than not recognising the input.
  const bool same = GetFileInformationByHandle(AsHandle(handle), &a) && GetFileInformationByHandle(named, &b) &&
                    (a.nFileIndexHigh | a.nFileIndexLow) != 0 && a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
                    a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
  CloseHandle(named);
  return same;
}

bool InputFile::IsFileAt(const wchar_t* path) const noexcept { return handle_ != -1 && IsOpenFileAt(handle_, path); }

bool InputFile::IsFileAt(const char* path) const noexcept {
  if (handle_ == -1) return false;
  bool outOfMemory = false;
  wchar_t* wide = WidenPath(path, &outOfMemory);
  const bool same = wide != nullptr && IsOpenFileAt(handle_, wide);
  FreeWide(wide);
  return same;
}

FileStatus InputFile::Read(void* buffer, std::size_t n, std::size_t* got) noexcept {
  *got = 0;
  if (handle_ == -1) return FileStatus::CannotRead;
  DWORD done = 0;
  if (!ReadFile(AsHandle(handle_), buffer, n < kChunk ? static_cast<DWORD>(n) : kChunk, &done, nullptr)) {
    const DWORD error = GetLastError();
    return Fail(FileStatus::CannotRead, ProblemOf(error), error);
  }
  *got = done;
  return FileStatus::Ok;
}

FileStatus InputFile::ReadExact(void* buffer, std::size_t n) noexcept {
  unsigned char* p = static_cast<unsigned char*>(buffer);
  // Wine's ReadFile into pages the process has never touched is several times slower
  // than into touched ones (64 MiB: 1.1 to 1.5 s, against 0.2 s to touch the pages and
  // 0.15 s to read). Windows takes the same page faults either way, so the buffer is
  // touched first, one byte per page.
  for (std::size_t off = 0; off < n; off += kPageSize) static_cast<volatile unsigned char*>(p)[off] = 0;
  while (n != 0) {
    std::size_t got = 0;
    const FileStatus status = Read(p, n, &got);
    if (status != FileStatus::Ok) return status;
    if (got == 0) return FileStatus::CannotRead;
    p += got;
    n -= got;
  }
  return FileStatus::Ok;
}

void InputFile::Close() noexcept {
  if (handle_ != -1) CloseHandle(AsHandle(handle_));
  handle_ = -1;
}

FileStatus AtomicOutputFile::Fail(FileProblem problem, std::uint32_t systemError) noexcept {
  Abandon();
  return Note(problem, systemError);
}

FileStatus AtomicOutputFile::Note(FileProblem problem, std::uint32_t systemError) noexcept {
  problem_ = problem;
  systemError_ = systemError;
  return FileStatus::CannotWrite;
}

FileStatus AtomicOutputFile::Create(const char* path) noexcept {
  Abandon();
  bool outOfMemory = false;
  wchar_t* wide = WidenPath(path, &outOfMemory);
  if (outOfMemory) return FileStatus::OutOfMemory;
  if (wide == nullptr)
    return Fail(path == nullptr || *path == '\0' ? FileProblem::kNotFound : FileProblem::kBadName,
                ERROR_NO_UNICODE_TRANSLATION);
  const FileStatus status = Create(wide);
  FreeWide(wide);
  return status;
}

FileStatus AtomicOutputFile::Create(const wchar_t* path) noexcept {
  Abandon();
  problem_ = FileProblem::kNone;
  systemError_ = 0;
  if (path == nullptr || *path == L'\0') return Fail(FileProblem::kNotFound, ERROR_FILE_NOT_FOUND);

  // Everything works on the full path: the rules measure it, and the replacement
  // needs it (Wine's ReplaceFileW fails on a relative one).
  const DWORD needed = GetFullPathNameW(path, 0, nullptr, nullptr);
  if (needed == 0) return Fail(ProblemOf(GetLastError()), GetLastError());
  target_ = AllocateWide(needed);
  if (target_ == nullptr) return FileStatus::OutOfMemory;
  wchar_t* name = nullptr;
  const DWORD length = GetFullPathNameW(path, needed, target_, &name);
  if (length == 0 || length >= needed) return Fail(FileProblem::kBadName, GetLastError());
  if (name == nullptr || *name == L'\0') return Fail(FileProblem::kFolder, ERROR_DIRECTORY);
  const std::size_t folderLength = static_cast<std::size_t>(name - target_);
  const std::size_t nameLength = length - folderLength;
  temporary_ = AllocateWide(length + kTemporaryNameExtra + 1);
  if (temporary_ == nullptr) {
    Release();
    return FileStatus::OutOfMemory;
  }
  std::memcpy(temporary_, target_, folderLength * sizeof(wchar_t));

  const FileProblem refusal = RefusalOf(Classify(target_));
  if (refusal != FileProblem::kNone) return Fail(refusal, 0);

  const std::size_t pathLimit = StartsWithPrefix(target_) ? kWindowsPrefixedPathLimit : kWindowsPathLimit;
  wchar_t* temporaryName = temporary_ + folderLength;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::size_t n =
        MakeTemporaryName(name, nameLength, folderLength, GetCurrentProcessId(), g_temporaryCounter.fetch_add(1),
                          kWindowsNameLimit, pathLimit, temporaryName);
    temporaryName[n] = L'\0';
    if (n == nameLength &&
        CompareStringOrdinal(name, static_cast<int>(n), temporaryName, static_cast<int>(n), TRUE) == CSTR_EQUAL)
      continue;
    // Delete sharing lets the tool's console handler remove the file while it is open.
    const HANDLE h = CreateFileW(temporary_, GENERIC_WRITE, FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                 FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      handle_ = reinterpret_cast<std::intptr_t>(h);
      temporaryExists_ = true;
      useReplaceFile_ = ReplaceFileMayBeUsedFor(h);
      return FileStatus::Ok;
    }
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return Fail(ProblemOf(error), error);
  }
  return Fail(FileProblem::kOther, ERROR_FILE_EXISTS);
}

FileStatus AtomicOutputFile::Write(const void* data, std::size_t n) noexcept {
  if (handle_ == -1) return FileStatus::CannotWrite;
  const unsigned char* p = static_cast<const unsigned char*>(data);
  while (n != 0) {
    DWORD done = 0;
    if (!WriteFile(AsHandle(handle_), p, n < kChunk ? static_cast<DWORD>(n) : kChunk, &done, nullptr) || done == 0) {
      const DWORD error = done == 0 && GetLastError() == ERROR_SUCCESS ? ERROR_DISK_FULL : GetLastError();
      return Note(ProblemOf(error), error);
    }
    p += done;
    n -= done;
  }
  return FileStatus::Ok;
}

FileStatus AtomicOutputFile::Flush() noexcept {
  if (handle_ == -1) return FileStatus::CannotWrite;
  if (!FlushFileBuffers(AsHandle(handle_))) return Note(ProblemOf(GetLastError()), GetLastError());
  return FileStatus::Ok;
}

FileStatus AtomicOutputFile::Commit() noexcept {
  // The data on the disk before the name changes: after a crash the target is the old
  // file or the complete new one, never an empty or partial file.
  if (Flush() != FileStatus::Ok) {
    const FileProblem problem = problem_;
    const std::uint32_t systemError = systemError_;
    return Fail(problem, systemError);
  }
  const BOOL closed = CloseHandle(AsHandle(handle_));
  handle_ = -1;
  if (!closed) return Fail(ProblemOf(GetLastError()), GetLastError());

  for (int round = 0; round < 2; ++round) {
    const TargetKind kind = Classify(target_);  // it may have changed while the file was written
    const FileProblem refusal = RefusalOf(kind);
    if (refusal != FileProblem::kNone) return Fail(refusal, 0);
    if (kind == TargetKind::kMissing) {
      if (MoveFileExW(temporary_, target_, MOVEFILE_WRITE_THROUGH)) break;
      const DWORD error = GetLastError();
      // A file appeared at the target meanwhile: it is replaced by the rules below.
      if ((error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS) && round == 0) continue;
      return Fail(ProblemOf(error), error);
    }
    const FileProblem locked = WhyNotRemovable(target_);
    if (locked != FileProblem::kNone) return Fail(locked, 0);
    if (!useReplaceFile_) {
      // A rename replaces the directory entry itself, a link included, never the file a
      // link leads to, and leaves no file of its own behind when it fails.
      if (MoveFileExW(temporary_, target_, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) break;
      const DWORD error = GetLastError();
      return Fail(WhyNotReplaced(target_, error), error);
    }
    // ReplaceFileW keeps the replaced file's ACL, attributes, creation time and streams,
    // where MoveFileEx would leave the new file with the folder's inherited ACL.
    if (ReplaceFileW(target_, temporary_, nullptr, 0, nullptr, nullptr)) break;
    const DWORD error = GetLastError();
    if (error == ERROR_UNABLE_TO_MOVE_REPLACEMENT) {
      // The old file is gone and the new one still has its temporary name: it must not
      // be lost as well. Put it in place; failing that, it stays where it is.
      if (MoveFileExW(temporary_, target_, MOVEFILE_WRITE_THROUGH)) break;
      const DWORD moveError = GetLastError();
      // Another writer's complete file took the free name meanwhile: nothing would be lost
      // without ours, so it is replaced once more or removed, never left lying about.
      if (moveError == ERROR_ALREADY_EXISTS || moveError == ERROR_FILE_EXISTS) {
        if (round == 0) continue;
        return Fail(FileProblem::kInUse, moveError);
      }
      temporaryExists_ = false;
      Release();
      problem_ = ProblemOf(moveError);
      systemError_ = moveError;
      return FileStatus::CannotWrite;
    }
    return Fail(WhyNotReplaced(target_, error), error);
  }
  temporaryExists_ = false;
  Release();
  return FileStatus::Ok;
}

void AtomicOutputFile::Abandon() noexcept {
  if (handle_ != -1) CloseHandle(AsHandle(handle_));
  handle_ = -1;
  if (temporaryExists_) DeleteFileW(temporary_);
  temporaryExists_ = false;
  Release();
}

void AtomicOutputFile::Release() noexcept {
  FreeWide(target_);
  FreeWide(temporary_);
  target_ = temporary_ = nullptr;
}

}  // namespace corvane
