// The component's two formats for programs that key one engine for many texts and
// stream files of any size through a fixed amount of memory. The bytes are those of
// enCrypt/deCrypt and FileEnCrypt/FileDeCrypt: the same engine buffers, the same Base64
// code and the same length header, processed chunk by chunk. The file part
// (stream_format.cpp) is the one implementation of the encrypted-file streaming: the
// DLL's FileEnCrypt and FileDeCrypt and the tool run it, so it does without exceptions
// and the C++ runtime (chunks come from the helper heap). The text part
// (stream_text.cpp, library crypt_stream) is for programs that keep the runtime.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "common/secure_buffer.h"
#include "crypt/file_cipher.h"
#include "crypt/file_io.h"
#include "engine/blowfish_engine.h"

namespace corvane {

// ---- Ciphertext text ----

enum class TextStatus { kOk, kBadBase64, kTooLong };

// The longest text, in bytes, whose ciphertext length fits the engine's 32-bit counts.
constexpr std::size_t kMaxTextBytes = 0xFFFFFFF8u;

// enCrypt's ciphertext text for n bytes: the Base64 form of their zero-padded ECB
// ciphertext under the keyed engine.
TextStatus EncryptTextToBase64(const BlowfishEngine& engine, const unsigned char* text, std::size_t n,
                               std::string* base64);

// deCrypt's text for n characters of Base64: the deciphered bytes up to their first
// zero byte. A decoded length that is not whole blocks has its last block completed
// with zero bytes.
TextStatus DecryptBase64ToText(const BlowfishEngine& engine, const char* base64, std::size_t n, SecureBytes* text);

// ---- Encrypted files ----

// The header (kLengthHeaderSize bytes) holds the plaintext length as an unsigned 32-bit
// little-endian number.
void StoreLengthHeader(std::uint32_t length, unsigned char header[kLengthHeaderSize]);
std::uint32_t LoadLengthHeader(const unsigned char header[kLengthHeaderSize]);

// How an encrypted file's size agrees with the length its header states.
enum class EncryptedFileShape {
  kExact,         // exactly what FileEnCrypt writes for the stated length
  kInconsistent,  // holds the stated length, but more bytes or not whole blocks
                  // (decryption writes the stated length and ignores the rest)
  kShort,         // ciphertext shorter than the stated length: decryption refuses it
  kNoHeader,      // shorter than the header: decryption refuses it
};
EncryptedFileShape ShapeOfEncryptedFile(std::uint64_t fileSize, std::uint32_t statedLength);

// Where a stream reads from and writes to.
class ByteReader {
 public:
  // Reads up to n bytes; *got is 0 only at the end.
  virtual FileStatus Read(void* buffer, std::size_t n, std::size_t* got) = 0;

 protected:
  ~ByteReader() = default;
};

class ByteWriter {
 public:
  virtual FileStatus Write(const void* data, std::size_t n) = 0;

 protected:
  ~ByteWriter() = default;
};

// A stream over an open input file and over the temporary file of an output.
class InputFileReader final : public ByteReader {
 public:
  explicit InputFileReader(InputFile& file) : file_(file) {}
  FileStatus Read(void* buffer, std::size_t n, std::size_t* got) override { return file_.Read(buffer, n, got); }

 private:
  InputFile& file_;
};

class OutputFileWriter final : public ByteWriter {
 public:
  explicit OutputFileWriter(AtomicOutputFile& file) : file_(file) {}
  FileStatus Write(const void* data, std::size_t n) override { return file_.Write(data, n); }

 private:
  AtomicOutputFile& file_;
};

// Told after every chunk how many input bytes are done; returning false stops the stream.
class StreamObserver {
 public:
  virtual bool Progress(std::uint64_t bytesDone) = 0;

 protected:
  ~StreamObserver() = default;
};

enum class StreamStatus {
  kOk,
  kCannotRead,
  kCannotWrite,
  kOutOfMemory,
  kEndedEarly,  // the input ended before the length it was expected to hold
  kTooLong,     // the input is longer than the limit given
  kStopped,     // the observer stopped the stream
};

// Data held in memory at once: one chunk of input and one of output (smaller for a
// shorter stream). The chunk holding plaintext is wiped when released.
constexpr std::size_t kStreamChunkSize = std::size_t{1} << 20;
static_assert(kStreamChunkSize % BlowfishEngine::kBlockSize == 0, "chunks hold whole blocks");

// FileEnCrypt's output for exactly `length` bytes read from `plaintext`: the header,
// then the ciphertext. Bytes after the first `length` are not read.
StreamStatus EncryptFileStream(const BlowfishEngine& engine, ByteReader& plaintext, std::uint32_t length,
                               ByteWriter& out, StreamObserver* observer);

// The ciphertext (without header) of everything `plaintext` delivers, stopping with
// kTooLong past maxLength bytes. *length receives the number of plaintext bytes.
StreamStatus EncipherToEnd(const BlowfishEngine& engine, ByteReader& plaintext, std::uint64_t maxLength,
                           ByteWriter& out, std::uint64_t* length, StreamObserver* observer);

// FileDeCrypt's output from the ciphertext that follows a header stating `length`:
// exactly `length` bytes. Reads no more than the whole blocks that hold them; a last
// partial block is completed with zero bytes. Ciphertext shorter than `length` gives
// kEndedEarly once it runs out (what was deciphered before has been written).
StreamStatus DecryptFileStream(const BlowfishEngine& engine, ByteReader& ciphertext, std::uint32_t length,
                               ByteWriter& out, StreamObserver* observer);

}  // namespace corvane
