// FileEnCrypt and FileDeCrypt after the path has been converted, and the encrypted-file
// format: a length header of L as a little-endian unsigned 32-bit number, then the
// plaintext's L bytes zero-padded to whole blocks and enciphered block by block (ECB).
// The output always goes to the input path with a suffix appended (".bf"), for
// decryption as for encryption; the input file is never changed.
#pragma once

#include <cstdint>

#include "dunlow.h"

namespace corvane {

constexpr std::uint32_t kLengthHeaderSize = 4;
constexpr char kEncryptedFileSuffix[] = ".bf";

// The longest plaintext: the most the length header can state (4 GiB - 1 bytes).
constexpr std::uint32_t kMaxPlaintextFileLength = 0xFFFFFFFF;
// The largest encrypted file: the header and the whole blocks of the longest plaintext.
// FileDeCrypt refuses larger files (STATUS_CANNOT_READ_INPUT), as FileEnCrypt refuses
// longer plaintexts.
constexpr std::uint64_t kMaxEncryptedFileSize = kLengthHeaderSize + (std::uint64_t{kMaxPlaintextFileLength} + 7) / 8 * 8;

// Both operations stream through two chunks of at most 1 MiB (stream_format.h), whatever
// the file's size, into a temporary file that takes the output's place only when
// complete (AtomicOutputFile): on failure nothing is at the output path. The statuses
// that the file's size and header decide (cannot open, too large, too short for its
// header) come before anything is written. headerSize is kLengthHeaderSize, the only
// header the format has. The helper object makes the output path; the file is read
// and written here, not through SFileReadA and SFileWriteA, which hold a whole file.

// Encrypts the file at inputPath into inputPath + suffix. A file larger than
// kMaxPlaintextFileLength, or one that becomes shorter than its size at opening while it
// is read, is STATUS_CANNOT_READ_INPUT; bytes it gains meanwhile are not read (the header
// states its size at opening). Returns 0 or a negative status.
std::int32_t EncryptFileBeside(CDunlow& dunlow, const char* inputPath, const char* suffix, std::uint32_t headerSize,
                               const unsigned char* key, std::int32_t keyLength);

// Decrypts the file at inputPath into inputPath + suffix; STATUS_SHORT_FILE when the
// file is shorter than its header or its ciphertext shorter than the header states,
// STATUS_CANNOT_READ_INPUT when it is larger than kMaxEncryptedFileSize or becomes too
// short for its header while it is read. Only the whole blocks holding the stated length
// are read.
// A last partial block is completed with zero bytes. Returns 0 or a negative status.
std::int32_t DecryptFileBeside(CDunlow& dunlow, const char* inputPath, const char* suffix, std::uint32_t headerSize,
                               const unsigned char* key, std::int32_t keyLength);

}  // namespace corvane
