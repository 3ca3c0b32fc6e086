#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <new>

#include "file_io.h"

namespace corvane {
namespace {

constexpr std::size_t kChunk = std::size_t{1} << 30;

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

}  // namespace

FileStatus InputFile::Open(const char* path) noexcept {
  Close();
  if (path == nullptr || *path == '\0') return FileStatus::CannotOpen;
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return FileStatus::CannotOpen;
  struct stat info;
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    return FileStatus::CannotOpen;
  }
  handle_ = fd;
  return FileStatus::Ok;
}

FileStatus InputFile::Size(std::uint64_t* size) const noexcept {
  struct stat info;
  if (handle_ < 0 || ::fstat(static_cast<int>(handle_), &info) != 0) return FileStatus::CannotRead;
  *size = static_cast<std::uint64_t>(info.st_size);
  return FileStatus::Ok;
}

FileStatus InputFile::Read(void* buffer, std::size_t n, std::size_t* got) noexcept {
  *got = 0;
  if (handle_ < 0) return FileStatus::CannotRead;
  for (;;) {
    const ssize_t done = ::read(static_cast<int>(handle_), buffer, n < kChunk ? n : kChunk);
    if (done >= 0) {
      *got = static_cast<std::size_t>(done);
      return FileStatus::Ok;
    }
    if (errno != EINTR) return FileStatus::CannotRead;
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

FileStatus AtomicOutputFile::Create(const char* path) noexcept {
  Abandon();
  if (path == nullptr || *path == '\0') return FileStatus::CannotWrite;
  static std::atomic<unsigned> counter{0};
  try {
    target_ = path;
    for (int attempt = 0; attempt < 100; ++attempt) {
      char suffix[48];
      std::snprintf(suffix, sizeof suffix, ".~%lx-%x.tmp", static_cast<unsigned long>(::getpid()),
                    counter.fetch_add(1));
      temporary_ = target_ + suffix;
      const int fd = ::open(temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      if (fd >= 0) {
        handle_ = fd;
        return FileStatus::Ok;
      }
      if (errno != EEXIST) break;
    }
  } catch (const std::bad_alloc&) {
    return FileStatus::OutOfMemory;
  }
  temporary_.clear();
  return FileStatus::CannotWrite;
}

FileStatus AtomicOutputFile::Write(const void* data, std::size_t n) noexcept {
  if (handle_ < 0) return FileStatus::CannotWrite;
  return WriteAll(static_cast<int>(handle_), static_cast<const unsigned char*>(data), n)
             ? FileStatus::Ok
             : FileStatus::CannotWrite;
}

FileStatus AtomicOutputFile::Commit() noexcept {
  if (handle_ < 0) return FileStatus::CannotWrite;
  const int fd = static_cast<int>(handle_);
  handle_ = -1;
  if (::close(fd) != 0) {
    Abandon();
    return FileStatus::CannotWrite;
  }
  struct stat info;
  // rename() would replace an empty folder; a folder is never a valid target.
  if ((::stat(target_.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) ||
      ::rename(temporary_.c_str(), target_.c_str()) != 0) {
    Abandon();
    return FileStatus::CannotWrite;
  }
  temporary_.clear();
  return FileStatus::Ok;
}

void AtomicOutputFile::Abandon() noexcept {
  if (handle_ >= 0) ::close(static_cast<int>(handle_));
  handle_ = -1;
  if (!temporary_.empty()) ::unlink(temporary_.c_str());
  temporary_.clear();
}

}  // namespace corvane
