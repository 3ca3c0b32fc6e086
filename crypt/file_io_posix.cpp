#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>  // renameat
#include <cstring>

#include "file_io.h"
#include "helper_heap.h"

namespace corvane {
namespace {

constexpr std::size_t kChunk = std::size_t{1} << 30;
constexpr std::size_t kDefaultNameLimit = 255;

std::atomic<unsigned> g_temporaryCounter{0};

FileProblem ProblemOf(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
      return FileProblem::kNotFound;
    case EACCES:
    case EPERM:
      return FileProblem::kNoAccess;
    case EROFS:
      return FileProblem::kReadOnlyFileSystem;
    case EISDIR:
      return FileProblem::kFolder;
    case ENOSPC:
    case EDQUOT:
      return FileProblem::kNoSpace;
    case ENAMETOOLONG:
      return FileProblem::kNameTooLong;
    case ETXTBSY:
    case EBUSY:
      return FileProblem::kInUse;
    default:
      return FileProblem::kOther;
  }
}

bool WriteAll(int fd, const unsigned char* data, std::size_t n) {
  while (n != 0) {
    const ssize_t done = ::write(fd, data, n < kChunk ? n : kChunk);
    if (done < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += done;
    n -= static_cast<std::size_t>(done);
  }
  return true;
}

// What is at `name` in the folder now, without following a symbolic link. A file the
// process may not write (or that has no write permission at all, which root would
// otherwise ignore) counts as read-only, as the read-only attribute does on Windows.
TargetKind Classify(int folder, const char* name, struct stat* info) {
  // Any other failure (a name too long, say) shows again, with its cause, when the
  // temporary file or the move is tried.
  if (::fstatat(folder, name, info, AT_SYMLINK_NOFOLLOW) != 0) return TargetKind::kMissing;
  if (S_ISDIR(info->st_mode)) return TargetKind::kFolder;
  if (S_ISLNK(info->st_mode)) return TargetKind::kSymbolicLink;
  if (!S_ISREG(info->st_mode)) return TargetKind::kOther;
  if ((info->st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) return TargetKind::kReadOnlyFile;
  if (::faccessat(folder, name, W_OK, AT_EACCESS) != 0 && (errno == EACCES || errno == EPERM || errno == EROFS))
    return TargetKind::kReadOnlyFile;
  return TargetKind::kFile;
}

// Gives the new file the replaced file's owner, group and mode, as far as the process
// may. A group that cannot be kept gets no access: the file's readers stay who they were.
void TakeOverOwnerAndMode(int fd, const struct stat& replaced) {
  struct stat own;
  if (::fstat(fd, &own) != 0) return;
  bool ownerKept = own.st_uid == replaced.st_uid;
  bool groupKept = own.st_gid == replaced.st_gid;
  if (!ownerKept || !groupKept) {
    if (::fchown(fd, replaced.st_uid, replaced.st_gid) == 0) {
      ownerKept = groupKept = true;
    } else if (!groupKept && ::fchown(fd, static_cast<uid_t>(-1), replaced.st_gid) == 0) {
      groupKept = true;
    }
  }
  mode_t mode = replaced.st_mode & (S_IRWXU | S_IRWXG | S_IRWXO | S_ISVTX);
  if (ownerKept && groupKept) mode |= replaced.st_mode & (S_ISUID | S_ISGID);
  if (!groupKept) mode &= static_cast<mode_t>(~S_IRWXG);
  ::fchmod(fd, mode);
}

}  // namespace

FileStatus InputFile::Fail(FileStatus status, FileProblem problem, std::uint32_t systemError) noexcept {
  problem_ = problem;
  systemError_ = systemError;
  return status;
}

FileStatus InputFile::Open(const char* path) noexcept {
  Close();
  problem_ = FileProblem::kNone;
  if (path == nullptr || *path == '\0') return Fail(FileStatus::CannotOpen, FileProblem::kNotFound, ENOENT);
  // Non-blocking, so that a FIFO without a writer is refused instead of waited for.
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return Fail(FileStatus::CannotOpen, ProblemOf(errno), static_cast<std::uint32_t>(errno));
  struct stat info;
  if (::fstat(fd, &info) != 0) {
    const int error = errno;
    ::close(fd);
    return Fail(FileStatus::CannotOpen, ProblemOf(error), static_cast<std::uint32_t>(error));
  }
  if (!S_ISREG(info.st_mode)) {
    ::close(fd);
    return Fail(FileStatus::CannotOpen, S_ISDIR(info.st_mode) ? FileProblem::kFolder : FileProblem::kNotRegular, 0);
  }
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags != -1) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  handle_ = fd;
  return FileStatus::Ok;
}

FileStatus InputFile::Size(std::uint64_t* size) const noexcept {
  struct stat info;
  if (handle_ < 0 || ::fstat(static_cast<int>(handle_), &info) != 0) return FileStatus::CannotRead;
  *size = static_cast<std::uint64_t>(info.st_size);
  return FileStatus::Ok;
}

bool IsOpenFileAt(std::intptr_t handle, const char* path) noexcept {
  struct stat open, named;
  if (handle < 0 || path == nullptr || ::fstat(static_cast<int>(handle), &open) != 0 || ::stat(path, &named) != 0)
    return false;
  return open.st_dev == named.st_dev && open.st_ino == named.st_ino;
}

bool InputFile::IsFileAt(const char* path) const noexcept { return handle_ >= 0 && IsOpenFileAt(handle_, path); }

FileStatus InputFile::Read(void* buffer, std::size_t n, std::size_t* got) noexcept {
  *got = 0;
  if (handle_ < 0) return FileStatus::CannotRead;
  for (;;) {
    const ssize_t done = ::read(static_cast<int>(handle_), buffer, n < kChunk ? n : kChunk);
    if (done >= 0) {
      *got = static_cast<std::size_t>(done);
      return FileStatus::Ok;
    }
    if (errno != EINTR) return Fail(FileStatus::CannotRead, ProblemOf(errno), static_cast<std::uint32_t>(errno));
  }
}

FileStatus InputFile::ReadExact(void* buffer, std::size_t n) noexcept {
  unsigned char* p = static_cast<unsigned char*>(buffer);
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
  if (handle_ >= 0) ::close(static_cast<int>(handle_));
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
  problem_ = FileProblem::kNone;
  systemError_ = 0;
  if (path == nullptr || *path == '\0') return Fail(FileProblem::kNotFound, ENOENT);
  const std::size_t length = std::strlen(path);
  const char* slash = std::strrchr(path, '/');
  const char* name = slash != nullptr ? slash + 1 : path;
  const std::size_t nameLength = length - static_cast<std::size_t>(name - path);
  if (nameLength == 0) return Fail(FileProblem::kFolder, EISDIR);
  const std::size_t folderLength = slash == nullptr ? 0 : slash == path ? 1 : static_cast<std::size_t>(slash - path);

  // One block: the folder's path (needed only to open it), the target's name and the
  // temporary name, each NUL-terminated.
  unsigned char* block = HelperAllocate(folderLength + 2 + nameLength + 1 + nameLength + kTemporaryNameExtra + 1);
  if (block == nullptr) return FileStatus::OutOfMemory;
  block_ = block;
  char* folderPath = reinterpret_cast<char*>(block);
  if (folderLength == 0) {
    std::memcpy(folderPath, ".", 2);
  } else {
    std::memcpy(folderPath, path, folderLength);
    folderPath[folderLength] = '\0';
  }
  target_ = folderPath + (folderLength == 0 ? 2 : folderLength + 1);
  std::memcpy(target_, name, nameLength + 1);
  temporary_ = target_ + nameLength + 1;

  int folder = ::open(folderPath, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  syncFolder_ = folder >= 0;
  // A folder the process may enter but not list can still hold the file; it is then
  // not flushed, which only the folder's own permissions prevent.
  if (folder < 0 && errno == EACCES) folder = ::open(folderPath, O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (folder < 0) return Fail(ProblemOf(errno), static_cast<std::uint32_t>(errno));
  folder_ = folder;

  struct stat info;
  const TargetKind kind = Classify(folder_, target_, &info);
  const FileProblem refusal = RefusalOf(kind);
  if (refusal != FileProblem::kNone) return Fail(refusal, 0);
  // Never more open than the file it replaces, even while it is written.
  const mode_t mode = kind == TargetKind::kFile ? (info.st_mode & (S_IRWXU | S_IRWXG | S_IRWXO)) : 0666;

  const long limit = ::fpathconf(folder_, _PC_NAME_MAX);
  const std::size_t nameLimit = limit > 0 ? static_cast<std::size_t>(limit) : kDefaultNameLimit;
  const std::uint32_t pid = static_cast<std::uint32_t>(::getpid());
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::size_t n = MakeTemporaryName(target_, nameLength, 0, pid, g_temporaryCounter.fetch_add(1), nameLimit,
                                            SIZE_MAX, temporary_);
    temporary_[n] = '\0';
    if (n == nameLength && std::memcmp(temporary_, target_, n) == 0) continue;
    const int fd = ::openat(folder_, temporary_, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd >= 0) {
      handle_ = fd;
      temporaryExists_ = true;
      return FileStatus::Ok;
    }
    if (errno != EEXIST) return Fail(ProblemOf(errno), static_cast<std::uint32_t>(errno));
  }
  return Fail(FileProblem::kOther, EEXIST);
}

FileStatus AtomicOutputFile::Write(const void* data, std::size_t n) noexcept {
  if (handle_ < 0) return FileStatus::CannotWrite;
  if (!WriteAll(static_cast<int>(handle_), static_cast<const unsigned char*>(data), n))
    return Note(ProblemOf(errno), static_cast<std::uint32_t>(errno));
  return FileStatus::Ok;
}

FileStatus AtomicOutputFile::Flush() noexcept {
  if (handle_ < 0) return FileStatus::CannotWrite;
  if (::fsync(static_cast<int>(handle_)) != 0) return Note(ProblemOf(errno), static_cast<std::uint32_t>(errno));
  return FileStatus::Ok;
}

FileStatus AtomicOutputFile::Commit() noexcept {
  if (handle_ < 0) return FileStatus::CannotWrite;
  const int fd = static_cast<int>(handle_);
  // The target as it is now: it may have changed while the file was written.
  struct stat info;
  const TargetKind kind = Classify(folder_, target_, &info);
  const FileProblem refusal = RefusalOf(kind);
  if (refusal != FileProblem::kNone) return Fail(refusal, 0);
  if (kind == TargetKind::kFile) TakeOverOwnerAndMode(fd, info);
  // Data and mode on the disk before the name changes: after a crash the target is the
  // old file or the complete new one, never an empty or partial file.
  if (::fsync(fd) != 0) return Fail(ProblemOf(errno), static_cast<std::uint32_t>(errno));
  handle_ = -1;
  if (::close(fd) != 0) return Fail(ProblemOf(errno), static_cast<std::uint32_t>(errno));
  if (::renameat(folder_, temporary_, folder_, target_) != 0)
    return Fail(ProblemOf(errno), static_cast<std::uint32_t>(errno));
  temporaryExists_ = false;
  // Makes the new name itself durable. The replacement has happened and cannot be
  // undone, and either name leads to a complete file: a failure here is not reported.
  if (syncFolder_) ::fsync(folder_);
  Release();
  return FileStatus::Ok;
}

void AtomicOutputFile::Abandon() noexcept {
  if (handle_ >= 0) ::close(static_cast<int>(handle_));
  handle_ = -1;
  if (temporaryExists_) ::unlinkat(folder_, temporary_, 0);
  temporaryExists_ = false;
  Release();
}

void AtomicOutputFile::Release() noexcept {
  if (folder_ >= 0) ::close(folder_);
  folder_ = -1;
  syncFolder_ = false;
  HelperFree(block_);
  block_ = nullptr;
  target_ = temporary_ = nullptr;
}

}  // namespace corvane
