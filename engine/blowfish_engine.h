// Blowfish (16 rounds, pi-derived tables) with this system's block convention:
// each 8-byte block is two little-endian 32-bit words, L = bytes 0..3, R = bytes 4..7.
// The key is packed most significant byte first, as in the published algorithm.
#pragma once

#include <cstdint>

namespace corvane {

class BlowfishEngine {
 public:
  static constexpr std::uint32_t kBlockSize = 8;

  // The key schedule reads at most this many key bytes: a longer key acts as its first 72.
  static constexpr std::int32_t kKeyBytesRead = 72;

  // Allocates the two tables; the engine is unkeyed until Initialize succeeds.
  BlowfishEngine();
  // Wipes the expanded key before the tables are released.
  ~BlowfishEngine();

  BlowfishEngine(const BlowfishEngine&) = delete;
  BlowfishEngine& operator=(const BlowfishEngine&) = delete;

  // False when the tables could not be allocated; nothing else may be called then.
  bool IsAllocated() const { return PArray != nullptr && SBoxes != nullptr; }

  // Key schedule (runs in full on every call; nothing is cached between keys).
  // At most the first kKeyBytesRead bytes are read. A null key, a keyLength below 1 or
  // unallocated tables leave the engine unkeyed (an earlier key included) and give false.
  bool Initialize(const unsigned char* key, std::int32_t keyLength);

  // True once a key schedule has filled the tables; Encode and Decode work only then.
  bool IsKeyed() const { return Keyed; }

  void Encipher(std::uint32_t& L, std::uint32_t& R) const;
  void Decipher(std::uint32_t& L, std::uint32_t& R) const;

  // Encode and Decode run several independent blocks at a time (blowfish_kernels.h);
  // the result is byte for byte that of Encipher or Decipher on each block in turn.

  // n rounded up to a whole number of blocks.
  static std::uint32_t GetOutputLength(std::uint32_t n);

  // Enciphers n bytes, zero-padding the last block; writes GetOutputLength(n) bytes
  // and returns that count. input and output must not overlap. An unkeyed engine
  // writes nothing and returns 0.
  std::uint32_t Encode(const unsigned char* input, unsigned char* output, std::uint32_t n) const;

  // Deciphers ceil(n / 8) blocks. A partial last block is completed with zero bytes
  // before deciphering; exactly n bytes are read and ceil(n / 8) * 8 written. An
  // unkeyed engine writes nothing and returns false.
  bool Decode(const unsigned char* input, unsigned char* output, std::uint32_t n) const;

 private:
  std::uint32_t* PArray;  // 18 round subkeys
  std::uint32_t* SBoxes;  // four S-boxes of 256 words, one flat array
  bool Keyed = false;     // the tables hold a key schedule's output
};

}  // namespace corvane
