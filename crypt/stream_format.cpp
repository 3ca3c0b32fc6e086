#include "stream_format.h"

#include <algorithm>
#include <new>

#include "base64.h"

namespace corvane {
namespace {

// Reads until n bytes are there or the input ends; *got < n means the end was reached.
FileStatus Fill(ByteReader& reader, unsigned char* buffer, std::size_t n, std::size_t* got) {
  *got = 0;
  while (*got < n) {
    std::size_t part = 0;
    const FileStatus status = reader.Read(buffer + *got, n - *got, &part);
    if (status != FileStatus::Ok) return status;
    if (part == 0) break;
    *got += part;
  }
  return FileStatus::Ok;
}

StreamStatus FromReadStatus(FileStatus status) {
  return status == FileStatus::OutOfMemory ? StreamStatus::kOutOfMemory : StreamStatus::kCannotRead;
}

StreamStatus FromWriteStatus(FileStatus status) {
  return status == FileStatus::OutOfMemory ? StreamStatus::kOutOfMemory : StreamStatus::kCannotWrite;
}

// One chunk of input and one of output, wiped when released: either may hold plaintext.
struct ChunkBuffers {
  SecureBytes in, out;
  bool Allocate() {
    try {
      in.resize(kStreamChunkSize);
      out.resize(kStreamChunkSize);
      return true;
    } catch (const std::bad_alloc&) {
      return false;
    }
  }
};

}  // namespace

TextStatus EncryptTextToBase64(const BlowfishEngine& engine, const unsigned char* text, std::size_t n,
                               std::string* base64) {
  if (n > kMaxTextBytes) return TextStatus::kTooLong;
  const std::uint32_t length = static_cast<std::uint32_t>(n);
  SecureBytes ciphertext(BlowfishEngine::GetOutputLength(length));
  if (length != 0) engine.Encode(text, ciphertext.data(), length);
  base64->assign(base64::EncodedLength(ciphertext.size()), '\0');
  if (!ciphertext.empty()) base64::Encode(ciphertext.data(), ciphertext.size(), &(*base64)[0]);
  return TextStatus::kOk;
}

TextStatus DecryptBase64ToText(const BlowfishEngine& engine, const char* base64, std::size_t n, SecureBytes* text) {
  text->clear();
  SecureBytes ciphertext(base64::MaxDecodedLength(n) + 1);
  std::size_t decoded = 0;
  if (n != 0 && !base64::Decode(base64, n, ciphertext.data(), &decoded)) return TextStatus::kBadBase64;
  if (decoded > kMaxTextBytes) return TextStatus::kTooLong;
  const std::uint32_t d = static_cast<std::uint32_t>(decoded);
  // Zero-filled, with a zero byte after the last block: the text always ends.
  SecureBytes plaintext(std::size_t{BlowfishEngine::GetOutputLength(d)} + 1, 0);
  if (d != 0) engine.Decode(ciphertext.data(), plaintext.data(), d);
  const auto end = std::find(plaintext.begin(), plaintext.end(), 0);
  text->assign(plaintext.begin(), end);
  return TextStatus::kOk;
}

void StoreLengthHeader(std::uint32_t length, unsigned char header[kLengthHeaderSize]) {
  for (std::uint32_t i = 0; i < kLengthHeaderSize; ++i) header[i] = static_cast<unsigned char>(length >> (8 * i));
}

std::uint32_t LoadLengthHeader(const unsigned char header[kLengthHeaderSize]) {
  std::uint32_t length = 0;
  for (std::uint32_t i = 0; i < kLengthHeaderSize; ++i) length |= static_cast<std::uint32_t>(header[i]) << (8 * i);
  return length;
}

EncryptedFileShape ShapeOfEncryptedFile(std::uint64_t fileSize, std::uint32_t statedLength) {
  if (fileSize < kLengthHeaderSize) return EncryptedFileShape::kNoHeader;
  const std::uint64_t ciphertext = fileSize - kLengthHeaderSize;
  if (ciphertext < statedLength) return EncryptedFileShape::kShort;
  // Computed in 64 bits: a stated length near 2^32 has no 32-bit block count.
  const std::uint64_t written = (std::uint64_t{statedLength} + 7) / 8 * 8;
  return ciphertext == written ? EncryptedFileShape::kExact : EncryptedFileShape::kInconsistent;
}

StreamStatus EncryptFileStream(const BlowfishEngine& engine, ByteReader& plaintext, std::uint32_t length,
                               ByteWriter& out, StreamObserver* observer) {
  ChunkBuffers buffers;
  if (!buffers.Allocate()) return StreamStatus::kOutOfMemory;
  unsigned char header[kLengthHeaderSize];
  StoreLengthHeader(length, header);
  FileStatus status = out.Write(header, sizeof header);
  if (status != FileStatus::Ok) return FromWriteStatus(status);

  std::uint64_t done = 0;
  while (done < length) {
    const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(kStreamChunkSize, length - done));
    std::size_t got = 0;
    status = Fill(plaintext, buffers.in.data(), want, &got);
    if (status != FileStatus::Ok) return FromReadStatus(status);
    if (got < want) return StreamStatus::kEndedEarly;
    const std::uint32_t written = engine.Encode(buffers.in.data(), buffers.out.data(), static_cast<std::uint32_t>(got));
    status = out.Write(buffers.out.data(), written);
    if (status != FileStatus::Ok) return FromWriteStatus(status);
    done += got;
    if (observer != nullptr && !observer->Progress(done)) return StreamStatus::kStopped;
  }
  return StreamStatus::kOk;
}

StreamStatus EncipherToEnd(const BlowfishEngine& engine, ByteReader& plaintext, std::uint64_t maxLength,
                           ByteWriter& out, std::uint64_t* length, StreamObserver* observer) {
  *length = 0;
  ChunkBuffers buffers;
  if (!buffers.Allocate()) return StreamStatus::kOutOfMemory;
  for (;;) {
    std::size_t got = 0;
    FileStatus status = Fill(plaintext, buffers.in.data(), kStreamChunkSize, &got);
    if (status != FileStatus::Ok) return FromReadStatus(status);
    if (got > maxLength - *length) return StreamStatus::kTooLong;
    if (got != 0) {
      const std::uint32_t written =
          engine.Encode(buffers.in.data(), buffers.out.data(), static_cast<std::uint32_t>(got));
      status = out.Write(buffers.out.data(), written);
      if (status != FileStatus::Ok) return FromWriteStatus(status);
      *length += got;
    }
    if (observer != nullptr && !observer->Progress(*length)) return StreamStatus::kStopped;
    if (got < kStreamChunkSize) return StreamStatus::kOk;
  }
}

StreamStatus DecryptFileStream(const BlowfishEngine& engine, ByteReader& ciphertext, std::uint32_t length,
                               ByteWriter& out, StreamObserver* observer) {
  ChunkBuffers buffers;
  if (!buffers.Allocate()) return StreamStatus::kOutOfMemory;
  const std::uint64_t needed = (std::uint64_t{length} + 7) / 8 * 8;  // whole blocks holding `length` bytes
  std::uint64_t read = 0, written = 0;
  while (written < length) {
    const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(kStreamChunkSize, needed - read));
    std::size_t got = 0;
    FileStatus status = Fill(ciphertext, buffers.in.data(), want, &got);
    if (status != FileStatus::Ok) return FromReadStatus(status);
    read += got;
    if (got < want && read < length) return StreamStatus::kEndedEarly;
    // A partial last block is completed with zero bytes by the engine.
    engine.Decode(buffers.in.data(), buffers.out.data(), static_cast<std::uint32_t>(got));
    const std::size_t keep =
        static_cast<std::size_t>(std::min<std::uint64_t>(BlowfishEngine::GetOutputLength(static_cast<std::uint32_t>(got)),
                                                          length - written));
    status = out.Write(buffers.out.data(), keep);
    if (status != FileStatus::Ok) return FromWriteStatus(status);
    written += keep;
    if (observer != nullptr && !observer->Progress(read)) return StreamStatus::kStopped;
  }
  return StreamStatus::kOk;
}

}  // namespace corvane
