#include "file_cipher.h"

#include <cstring>

#include "engine/blowfish_engine.h"
#include "file_io.h"
#include "helper_buffer.h"
#include "status.h"
#include "stream_format.h"

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

std::int32_t FromFileStatus(FileStatus status, std::int32_t otherwise) {
  return status == FileStatus::OutOfMemory ? STATUS_OUT_OF_MEMORY : otherwise;
}

// The input, opened and measured: the statuses that SFileReadA gives for the same
// conditions (-104 cannot open, -105 cannot measure or too large).
std::int32_t OpenInput(const char* path, std::uint64_t maxSize, InputFile& file, std::uint64_t* size) {
  const FileStatus opened = file.Open(path);
  if (opened != FileStatus::Ok) return FromFileStatus(opened, STATUS_CANNOT_OPEN_INPUT);
  if (file.Size(size) != FileStatus::Ok || *size > maxSize) return STATUS_CANNOT_READ_INPUT;
  return STATUS_OK;
}

// Streams into a temporary file beside the output path and puts it in the output's
// place only when every byte is there: on any failure nothing is left at the path.
template <class Stream>
std::int32_t WriteOutput(const char* outputPath, InputFile& input, Stream stream) {
  AtomicOutputFile output;
  const FileStatus created = output.Create(outputPath);
  if (created != FileStatus::Ok) return FromFileStatus(created, STATUS_CANNOT_WRITE_OUTPUT);
  InputFileReader reader(input);
  OutputFileWriter writer(output);
  switch (stream(reader, writer)) {
    case StreamStatus::kOk:
      break;
    case StreamStatus::kOutOfMemory:
      return STATUS_OUT_OF_MEMORY;
    case StreamStatus::kCannotWrite:
      return STATUS_CANNOT_WRITE_OUTPUT;
    default:  // a read failure, or an input that became shorter than its length
      return STATUS_CANNOT_READ_INPUT;
  }
  input.Close();
  const FileStatus committed = output.Commit();
  return committed == FileStatus::Ok ? STATUS_OK : FromFileStatus(committed, STATUS_CANNOT_WRITE_OUTPUT);
}

}  // namespace

std::int32_t EncryptFileBeside(CDunlow& dunlow, const char* inputPath, const char* suffix, std::uint32_t /*headerSize*/,
                               const unsigned char* key, std::int32_t keyLength) {
  BlowfishEngine engine;
  if (!engine.IsAllocated()) return STATUS_OUT_OF_MEMORY;
  if (!engine.Initialize(key, keyLength)) return STATUS_NO_KEY;  // nothing is written without a key
  HelperBuffer outputPath(dunlow);
  std::int32_t status = OutputPath(dunlow, inputPath, suffix, outputPath);
  if (status < 0) return status;

  InputFile input;
  std::uint64_t size = 0;
  status = OpenInput(inputPath, kMaxPlaintextFileLength, input, &size);
  if (status < 0) return status;
  // The header states the size at opening, and exactly that many bytes are enciphered: a
  // file that grows meanwhile is taken as it was, one that shrinks below it fails.
  const std::uint32_t length = static_cast<std::uint32_t>(size);
  return WriteOutput(outputPath.Text(), input, [&](ByteReader& reader, ByteWriter& writer) {
    return EncryptFileStream(engine, reader, length, writer, nullptr);
  });
}

std::int32_t DecryptFileBeside(CDunlow& dunlow, const char* inputPath, const char* suffix, std::uint32_t /*headerSize*/,
                               const unsigned char* key, std::int32_t keyLength) {
  BlowfishEngine engine;
  if (!engine.IsAllocated()) return STATUS_OUT_OF_MEMORY;
  if (!engine.Initialize(key, keyLength)) return STATUS_NO_KEY;
  HelperBuffer outputPath(dunlow);
  std::int32_t status = OutputPath(dunlow, inputPath, suffix, outputPath);
  if (status < 0) return status;

  InputFile input;
  std::uint64_t size = 0;
  status = OpenInput(inputPath, kMaxEncryptedFileSize, input, &size);
  if (status < 0) return status;
  // A file too short for its header, or whose ciphertext is shorter than the header
  // states, is refused before anything is deciphered or written.
  if (size < kLengthHeaderSize) return STATUS_SHORT_FILE;
  unsigned char header[kLengthHeaderSize];
  const FileStatus read = input.ReadExact(header, sizeof header);
  if (read != FileStatus::Ok) return FromFileStatus(read, STATUS_CANNOT_READ_INPUT);
  const std::uint32_t length = LoadLengthHeader(header);
  if (ShapeOfEncryptedFile(size, length) == EncryptedFileShape::kShort) return STATUS_SHORT_FILE;
  return WriteOutput(outputPath.Text(), input, [&](ByteReader& reader, ByteWriter& writer) {
    return DecryptFileStream(engine, reader, length, writer, nullptr);
  });
}

}  // namespace corvane
