#include "file_cipher.h"

#include <cstring>

#include "engine/blowfish_engine.h"
#include "helper_buffer.h"
#include "status.h"

namespace corvane {
namespace {

// inputPath + suffix in a new buffer. The path ends at its first zero byte, as the file
// functions read it: the output must never name the input file itself.
// An output path that leads to the input file itself (a hard link, or a symbolic link to
// it) is refused before anything is written: replacing it would lose the input.
std::int32_t OutputPath(CDunlow& dunlow, const char* inputPath, const char* suffix, HelperBuffer& out) {
  const std::size_t pathLength = std::strlen(inputPath);
  const std::size_t suffixLength = std::strlen(suffix);
  const std::int32_t status =
      dunlow.SmallocChar(out.Receive(), static_cast<std::uint32_t>(pathLength + suffixLength));
  if (status < 0) return status;
  std::memcpy(out.Get(), inputPath, pathLength);
  std::memcpy(out.Get() + pathLength, suffix, suffixLength);
  if (dunlow.SSameFileA(inputPath, out.Text())) return STATUS_CANNOT_WRITE_OUTPUT;
  return STATUS_OK;
}

}  // namespace

std::int32_t EncryptFileBeside(CDunlow& dunlow, const char* inputPath, const char* suffix, std::uint32_t headerSize,
                               const unsigned char* key, std::int32_t keyLength) {
  BlowfishEngine engine;
  if (!engine.IsAllocated()) return STATUS_OUT_OF_MEMORY;
  if (!engine.Initialize(key, keyLength)) return STATUS_NO_KEY;  // nothing is written without a key
  // The result holds the length header and ciphertext only: released without a wipe.
  HelperBuffer outputPath(dunlow), content(dunlow), result(dunlow, HelperBuffer::Holds::CiphertextOnly);

  std::int32_t status = OutputPath(dunlow, inputPath, suffix, outputPath);
  if (status < 0) return status;
  const std::int32_t read = dunlow.SFileReadA(inputPath, content.Receive());
  if (read < 0) return read;
  const std::uint32_t L = static_cast<std::uint32_t>(read);
  if (L > kMaxPlaintextFileLength) return STATUS_CANNOT_READ_INPUT;

  const std::uint32_t total = BlowfishEngine::GetOutputLength(L) + headerSize;
  status = dunlow.Smalloc(result.Receive(), total);
  if (status < 0) return status;
  for (std::uint32_t i = 0; i < headerSize; ++i) result.Get()[i] = static_cast<unsigned char>(L >> (8 * i));

  engine.Encode(content.Get(), result.Get() + headerSize, L);
  return dunlow.SFileWriteA(result.Get(), total, outputPath.Text());
}

std::int32_t DecryptFileBeside(CDunlow& dunlow, const char* inputPath, const char* suffix, std::uint32_t headerSize,
                               const unsigned char* key, std::int32_t keyLength) {
  BlowfishEngine engine;
  if (!engine.IsAllocated()) return STATUS_OUT_OF_MEMORY;
  if (!engine.Initialize(key, keyLength)) return STATUS_NO_KEY;
  // The content is the input file as it is stored (a length header and ciphertext):
  // released without a wipe. The result is plaintext and is wiped.
  HelperBuffer outputPath(dunlow), content(dunlow, HelperBuffer::Holds::CiphertextOnly), result(dunlow);

  std::int32_t status = OutputPath(dunlow, inputPath, suffix, outputPath);
  if (status < 0) return status;
  const std::int32_t read = dunlow.SFileReadA(inputPath, content.Receive());
  if (read < 0) return read;
  const std::uint32_t N = static_cast<std::uint32_t>(read);

  // A file too short for its header, or whose ciphertext is shorter than the header
  // states, is refused before anything is deciphered or written.
  if (N < headerSize) return STATUS_SHORT_FILE;
  std::uint32_t L = 0;
  for (std::uint32_t i = 0; i < headerSize; ++i) L |= static_cast<std::uint32_t>(content.Get()[i]) << (8 * i);
  const std::uint32_t cipherLength = N - headerSize;
  if (cipherLength < L) return STATUS_SHORT_FILE;

  status = dunlow.Smalloc(result.Receive(), BlowfishEngine::GetOutputLength(cipherLength));
  if (status < 0) return status;
  engine.Decode(content.Get() + headerSize, result.Get(), cipherLength);
  return dunlow.SFileWriteA(result.Get(), L, outputPath.Text());
}

}  // namespace corvane
