// CDunlow: conversions, memory and whole-file input and output for Crypt.
// Every operation but Sfree returns a status: >= 0 success (a length where one is
// named), < 0 one of the helper failure codes of status.h. A failing operation
// leaves nothing for the caller to release.
#pragma once

#include <cstdint>

#ifdef _WIN32
#include <windows.h>
#include <oaidl.h>
#endif

namespace corvane {

class CDunlow {
 public:
  CDunlow() = default;
  virtual ~CDunlow() = default;
  CDunlow(const CDunlow&) = delete;
  CDunlow& operator=(const CDunlow&) = delete;

#ifdef _WIN32
  // The value as NUL-terminated text in the ANSI code page. VT_BYREF is followed,
  // then the value is coerced to a string; VT_EMPTY gives "". Fails with
  // STATUS_NO_TEXT_FORM (VT_NULL, arrays, ...) or STATUS_NOT_IN_CODE_PAGE.
  // Returns the text's length in bytes (zero bytes inside the text included).
  std::int32_t SVariant2char(VARIANT value, unsigned char** out);
  // NUL-terminated text in the ANSI code page into *out as a VT_BSTR. *out is written
  // only on success; bytes that are not valid text in the code page fail.
  std::int32_t SChar2Variant(const unsigned char* text, VARIANT* out);
#endif

  std::int32_t Smalloc(unsigned char** p, std::uint32_t n);
  // n + 1 zero bytes.
  std::int32_t SmallocChar(unsigned char** p, std::uint32_t n);
  // A new buffer with the n bytes of src and a terminating NUL.
  std::int32_t SmemCpyChar(unsigned char** dst, std::uint32_t n, const unsigned char* src);
  // Wipes and frees a buffer made by the operations above; clears the pointer.
  void Sfree(unsigned char** p);
  // Sfree without the wipe, only for buffers that never held plaintext or key text.
  void SfreeUnwiped(unsigned char** p);

  // The whole file into a new buffer; returns its length. Files longer than
  // kMaxFileLength fail with STATUS_CANNOT_READ_INPUT.
  std::int32_t SFileReadA(const char* path, unsigned char** out);
  // Whether outputPath names the very file at inputPath (same volume and file index, or
  // device and inode), under whatever spelling, hard link or symbolic link; false when
  // either names nothing that opens.
  bool SSameFileA(const char* inputPath, const char* outputPath);
  // Creates or replaces the file, all or nothing, and durably (see AtomicOutputFile):
  // a read-only file, a folder, a symbolic link or a device at the path is left alone.
  std::int32_t SFileWriteA(const unsigned char* data, std::uint32_t n, const char* path);

  // The largest length a status can report.
  static constexpr std::uint32_t kMaxFileLength = 0x7FFFFFFF;
};

}  // namespace corvane
