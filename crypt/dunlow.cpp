#include "dunlow.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "common/secure_wipe.h"
#include "file_io.h"
#include "helper_heap.h"
#include "status.h"

namespace corvane {
namespace {

// Keeps the usable part of a block aligned as malloc aligns it.
constexpr std::size_t kBlockHeader = 16;
static_assert(sizeof(std::size_t) <= kBlockHeader, "the size must fit the block header");

std::int32_t FromFileStatus(FileStatus status, std::int32_t otherwise) {
  return status == FileStatus::OutOfMemory ? STATUS_OUT_OF_MEMORY : otherwise;
}


// On Windows the blocks come from the process heap itself, not from a C runtime's heap:
// the DLLs link no runtime, and a failed allocation is a null pointer, nothing more.
#ifdef _WIN32
void* AllocateBlock(std::size_t n) { return HeapAlloc(GetProcessHeap(), 0, n); }
void FreeBlock(void* block) { HeapFree(GetProcessHeap(), 0, block); }
#else
void* AllocateBlock(std::size_t n) { return std::malloc(n); }
void FreeBlock(void* block) { std::free(block); }
#endif

}  // namespace

unsigned char* HelperAllocate(std::size_t n) {
  if (n > SIZE_MAX - kBlockHeader) return nullptr;
  unsigned char* block = static_cast<unsigned char*>(AllocateBlock(n + kBlockHeader));
  if (block == nullptr) return nullptr;
  std::memcpy(block, &n, sizeof n);
  return block + kBlockHeader;
}

void HelperFree(unsigned char* p) {
  if (p == nullptr) return;
  unsigned char* block = p - kBlockHeader;
  std::size_t n;
  std::memcpy(&n, block, sizeof n);
  WipeBeforeRelease(block, n + kBlockHeader);
  FreeBlock(block);
}

void HelperFreeUnwiped(unsigned char* p) {
  if (p != nullptr) FreeBlock(p - kBlockHeader);
}

std::int32_t CDunlow::Smalloc(unsigned char** p, std::uint32_t n) {
  unsigned char* buffer = HelperAllocate(n);
  if (buffer == nullptr) return STATUS_OUT_OF_MEMORY;
  *p = buffer;
  return 0;
}

std::int32_t CDunlow::SmallocChar(unsigned char** p, std::uint32_t n) {
  unsigned char* buffer = HelperAllocate(std::size_t{n} + 1);
  if (buffer == nullptr) return STATUS_OUT_OF_MEMORY;
  std::memset(buffer, 0, std::size_t{n} + 1);
  *p = buffer;
  return 0;
}

std::int32_t CDunlow::SmemCpyChar(unsigned char** dst, std::uint32_t n, const unsigned char* src) {
  unsigned char* buffer = HelperAllocate(std::size_t{n} + 1);
  if (buffer == nullptr) return STATUS_OUT_OF_MEMORY;
  if (n != 0) std::memcpy(buffer, src, n);
  buffer[n] = 0;
  *dst = buffer;
  return 0;
}

void CDunlow::Sfree(unsigned char** p) {
  if (p == nullptr) return;
  HelperFree(*p);
  *p = nullptr;
}

void CDunlow::SfreeUnwiped(unsigned char** p) {
  if (p == nullptr) return;
  HelperFreeUnwiped(*p);
  *p = nullptr;
}

std::int32_t CDunlow::SFileReadA(const char* path, unsigned char** out) {
  InputFile file;
  FileStatus status = file.Open(path);
  if (status != FileStatus::Ok) return FromFileStatus(status, STATUS_CANNOT_OPEN_INPUT);
  std::uint64_t size = 0;
  status = file.Size(&size);
  if (status != FileStatus::Ok || size > kMaxFileLength) return STATUS_CANNOT_READ_INPUT;
  unsigned char* content = nullptr;
  const std::int32_t allocated = Smalloc(&content, static_cast<std::uint32_t>(size));
  if (allocated < 0) return allocated;
  status = file.ReadExact(content, static_cast<std::size_t>(size));
  if (status != FileStatus::Ok) {
    Sfree(&content);
    return FromFileStatus(status, STATUS_CANNOT_READ_INPUT);
  }
  *out = content;
  return static_cast<std::int32_t>(size);
}

bool CDunlow::SSameFileA(const char* inputPath, const char* outputPath) {
  InputFile input;
  return input.Open(inputPath) == FileStatus::Ok && input.IsFileAt(outputPath);
}

std::int32_t CDunlow::SFileWriteA(const unsigned char* data, std::uint32_t n, const char* path) {
  AtomicOutputFile file;
  FileStatus status = file.Create(path);
  if (status == FileStatus::Ok) status = file.Write(data, n);
  if (status == FileStatus::Ok) status = file.Commit();
  if (status != FileStatus::Ok) return FromFileStatus(status, STATUS_CANNOT_WRITE_OUTPUT);
  return 0;
}

}  // namespace corvane
