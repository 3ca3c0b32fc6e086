#include "stream_format.h"

#include <algorithm>

#include "helper_heap.h"

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

// One chunk of input and one of output, from the helper heap (no exceptions and no C++
// runtime: the DLL runs this code too). The chunk that holds plaintext is wiped when
// released; the other only ever holds ciphertext and is released without a pass over it.
enum class PlaintextIn { kInput, kOutput };

class ChunkBuffers {
 public:
  // capacity: a multiple of the block size, at most kStreamChunkSize.
  ChunkBuffers(std::size_t capacity, PlaintextIn plaintext)
      : in_(HelperAllocate(capacity)), out_(HelperAllocate(capacity)), plaintext_(plaintext) {}
  ~ChunkBuffers() {
    Release(in_, plaintext_ == PlaintextIn::kInput);
    Release(out_, plaintext_ == PlaintextIn::kOutput);
  }
  ChunkBuffers(const ChunkBuffers&) = delete;
  ChunkBuffers& operator=(const ChunkBuffers&) = delete;

  bool Allocated() const { return in_ != nullptr && out_ != nullptr; }
  unsigned char* In() const { return in_; }
  unsigned char* Out() const { return out_; }

 private:
  static void Release(unsigned char* p, bool holdsPlaintext) {
    if (holdsPlaintext) {
      HelperFree(p);
    } else {
      HelperFreeUnwiped(p);
    }
  }

  unsigned char* in_;
  unsigned char* out_;
  PlaintextIn plaintext_;
};

// The chunk a stream of `bytes` input bytes needs: whole blocks, no more than one chunk.
std::size_t ChunkFor(std::uint64_t bytes) {
  const std::uint64_t blocks = (bytes + BlowfishEngine::kBlockSize - 1) / BlowfishEngine::kBlockSize;
  return static_cast<std::size_t>(std::min<std::uint64_t>(kStreamChunkSize, blocks * BlowfishEngine::kBlockSize));
}

}  // namespace

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
  const ChunkBuffers buffers(ChunkFor(length), PlaintextIn::kInput);
  if (!buffers.Allocated()) return StreamStatus::kOutOfMemory;
  unsigned char header[kLengthHeaderSize];
  StoreLengthHeader(length, header);
  FileStatus status = out.Write(header, sizeof header);
  if (status != FileStatus::Ok) return FromWriteStatus(status);

  std::uint64_t done = 0;
  while (done < length) {
    const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(kStreamChunkSize, length - done));
    std::size_t got = 0;
    status = Fill(plaintext, buffers.In(), want, &got);
    if (status != FileStatus::Ok) return FromReadStatus(status);
    if (got < want) return StreamStatus::kEndedEarly;
    const std::uint32_t written = engine.Encode(buffers.In(), buffers.Out(), static_cast<std::uint32_t>(got));
    status = out.Write(buffers.Out(), written);
    if (status != FileStatus::Ok) return FromWriteStatus(status);
    done += got;
    if (observer != nullptr && !observer->Progress(done)) return StreamStatus::kStopped;
  }
  return StreamStatus::kOk;
}

StreamStatus EncipherToEnd(const BlowfishEngine& engine, ByteReader& plaintext, std::uint64_t maxLength,
                           ByteWriter& out, std::uint64_t* length, StreamObserver* observer) {
  *length = 0;
  const ChunkBuffers buffers(kStreamChunkSize, PlaintextIn::kInput);
  if (!buffers.Allocated()) return StreamStatus::kOutOfMemory;
  for (;;) {
    std::size_t got = 0;
    FileStatus status = Fill(plaintext, buffers.In(), kStreamChunkSize, &got);
    if (status != FileStatus::Ok) return FromReadStatus(status);
    if (got > maxLength - *length) return StreamStatus::kTooLong;
    if (got != 0) {
      const std::uint32_t written =
          engine.Encode(buffers.In(), buffers.Out(), static_cast<std::uint32_t>(got));
      status = out.Write(buffers.Out(), written);
      if (status != FileStatus::Ok) return FromWriteStatus(status);
      *length += got;
    }
    if (observer != nullptr && !observer->Progress(*length)) return StreamStatus::kStopped;
    if (got < kStreamChunkSize) return StreamStatus::kOk;
  }
}

StreamStatus DecryptFileStream(const BlowfishEngine& engine, ByteReader& ciphertext, std::uint32_t length,
                               ByteWriter& out, StreamObserver* observer) {
  const std::uint64_t needed = (std::uint64_t{length} + 7) / 8 * 8;  // whole blocks holding `length` bytes
  const ChunkBuffers buffers(ChunkFor(needed), PlaintextIn::kOutput);
  if (!buffers.Allocated()) return StreamStatus::kOutOfMemory;
  std::uint64_t read = 0, written = 0;
  while (written < length) {
    const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(kStreamChunkSize, needed - read));
    std::size_t got = 0;
    FileStatus status = Fill(ciphertext, buffers.In(), want, &got);
    if (status != FileStatus::Ok) return FromReadStatus(status);
    read += got;
    if (got < want && read < length) return StreamStatus::kEndedEarly;
    // A partial last block is completed with zero bytes by the engine.
    engine.Decode(buffers.In(), buffers.Out(), static_cast<std::uint32_t>(got));
    const std::size_t keep =
        static_cast<std::size_t>(std::min<std::uint64_t>(BlowfishEngine::GetOutputLength(static_cast<std::uint32_t>(got)),
                                                          length - written));
    status = out.Write(buffers.Out(), keep);
    if (status != FileStatus::Ok) return FromWriteStatus(status);
    written += keep;
    if (observer != nullptr && !observer->Progress(read)) return StreamStatus::kStopped;
  }
  return StreamStatus::kOk;
}

}  // namespace corvane
