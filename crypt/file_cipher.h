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

// The longest plaintext whose encrypted file can still be read back: the reader
// reports lengths as signed 32-bit numbers.
constexpr std::uint32_t kMaxPlaintextFileLength = 0x7FFFFFF8;

// Encrypts the file at inputPath into inputPath + suffix. Returns 0 or a negative status.
std::int32_t EncryptFileBeside(CDunlow& dunlow, const char* inputPath, const char* suffix, std::uint32_t headerSize,
                               const unsigned char* key, std::int32_t keyLength);

// Decrypts the file at inputPath into inputPath + suffix; STATUS_SHORT_FILE when the
// file is shorter than its header or its ciphertext shorter than the header states.
// A last partial block is completed with zero bytes. Returns 0 or a negative status.
std::int32_t DecryptFileBeside(CDunlow& dunlow, const char* inputPath, const char* suffix, std::uint32_t headerSize,
                               const unsigned char* key, std::int32_t keyLength);

}  // namespace corvane
