#include "blowfish_engine.h"

#include <cstring>
#include <new>

#include "blowfish_init_tables.h"
#include "blowfish_kernel_sets.h"
#include "common/secure_wipe.h"

namespace corvane {
namespace {

inline std::uint32_t LoadLittleEndian(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

inline void StoreLittleEndian(unsigned char* p, std::uint32_t v) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
  p[2] = static_cast<unsigned char>(v >> 16);
  p[3] = static_cast<unsigned char>(v >> 24);
}

inline std::uint32_t RoundFunction(const std::uint32_t* S, std::uint32_t x) {
  return ((S[x >> 24] + S[256 + ((x >> 16) & 255)]) ^ S[512 + ((x >> 8) & 255)]) +
         S[768 + (x & 255)];
}

}  // namespace

BlowfishEngine::BlowfishEngine()
    : PArray(new (std::nothrow) std::uint32_t[kBlowfishPWords]),
      SBoxes(new (std::nothrow) std::uint32_t[kBlowfishSWords]) {}

BlowfishEngine::~BlowfishEngine() {
  WipeBeforeRelease(PArray, PArray ? kBlowfishPWords * sizeof(std::uint32_t) : 0);
  WipeBeforeRelease(SBoxes, SBoxes ? kBlowfishSWords * sizeof(std::uint32_t) : 0);
  delete[] PArray;
  delete[] SBoxes;
}

// Tables that no schedule filled would encipher with whatever the heap left there, or
// with an earlier key: a refused key leaves the engine unable to encode at all.
bool BlowfishEngine::Initialize(const unsigned char* key, std::int32_t keyLength) {
  Keyed = false;
  if (!IsAllocated() || key == nullptr || keyLength < 1) return false;
  detail::ActiveBlowfishKernels().schedule(PArray, SBoxes, key, static_cast<std::uint32_t>(keyLength));
  Keyed = true;
  return true;
}

// Sixteen rounds written out: a and b alternate as the left half, so no exchange is needed.
void BlowfishEngine::Encipher(std::uint32_t& L, std::uint32_t& R) const {
  const std::uint32_t* P = PArray;
  const std::uint32_t* S = SBoxes;
  std::uint32_t a = L ^ P[0];
  std::uint32_t b = R;
  b ^= RoundFunction(S, a) ^ P[1];
  a ^= RoundFunction(S, b) ^ P[2];
  b ^= RoundFunction(S, a) ^ P[3];
  a ^= RoundFunction(S, b) ^ P[4];
  b ^= RoundFunction(S, a) ^ P[5];
  a ^= RoundFunction(S, b) ^ P[6];
  b ^= RoundFunction(S, a) ^ P[7];
  a ^= RoundFunction(S, b) ^ P[8];
  b ^= RoundFunction(S, a) ^ P[9];
  a ^= RoundFunction(S, b) ^ P[10];
  b ^= RoundFunction(S, a) ^ P[11];
  a ^= RoundFunction(S, b) ^ P[12];
  b ^= RoundFunction(S, a) ^ P[13];
  a ^= RoundFunction(S, b) ^ P[14];
  b ^= RoundFunction(S, a) ^ P[15];
  a ^= RoundFunction(S, b) ^ P[16];
  L = b ^ P[17];
  R = a;
}

void BlowfishEngine::Decipher(std::uint32_t& L, std::uint32_t& R) const {
  const std::uint32_t* P = PArray;
  const std::uint32_t* S = SBoxes;
  std::uint32_t a = L ^ P[17];
  std::uint32_t b = R;
  b ^= RoundFunction(S, a) ^ P[16];
  a ^= RoundFunction(S, b) ^ P[15];
  b ^= RoundFunction(S, a) ^ P[14];
  a ^= RoundFunction(S, b) ^ P[13];
  b ^= RoundFunction(S, a) ^ P[12];
  a ^= RoundFunction(S, b) ^ P[11];
  b ^= RoundFunction(S, a) ^ P[10];
  a ^= RoundFunction(S, b) ^ P[9];
  b ^= RoundFunction(S, a) ^ P[8];
  a ^= RoundFunction(S, b) ^ P[7];
  b ^= RoundFunction(S, a) ^ P[6];
  a ^= RoundFunction(S, b) ^ P[5];
  b ^= RoundFunction(S, a) ^ P[4];
  a ^= RoundFunction(S, b) ^ P[3];
  b ^= RoundFunction(S, a) ^ P[2];
  a ^= RoundFunction(S, b) ^ P[1];
  L = b ^ P[0];
  R = a;
}

std::uint32_t BlowfishEngine::GetOutputLength(std::uint32_t n) {
  const std::uint32_t rest = n % kBlockSize;
  return rest == 0 ? n : n - rest + kBlockSize;
}

// Whole blocks go through the interleaved kernel; a partial last block is completed
// here and enciphered on its own.
std::uint32_t BlowfishEngine::Encode(const unsigned char* input, unsigned char* output,
                                     std::uint32_t n) const {
  if (!Keyed) return 0;
  const std::uint32_t whole = n - n % kBlockSize;
  detail::ActiveBlowfishKernels().encipher(PArray, SBoxes, input, output, whole / kBlockSize);
  if (whole != n) {
    unsigned char block[kBlockSize] = {};
    std::memcpy(block, input + whole, n - whole);
    std::uint32_t L = LoadLittleEndian(block);
    std::uint32_t R = LoadLittleEndian(block + 4);
    SecureWipe(block, sizeof block);
    Encipher(L, R);
    StoreLittleEndian(output + whole, L);
    StoreLittleEndian(output + whole + 4, R);
  }
  return GetOutputLength(n);
}

bool BlowfishEngine::Decode(const unsigned char* input, unsigned char* output,
                            std::uint32_t n) const {
  if (!Keyed) return false;
  const std::uint32_t whole = n - n % kBlockSize;
  detail::ActiveBlowfishKernels().decipher(PArray, SBoxes, input, output, whole / kBlockSize);
  if (whole != n) {
    unsigned char block[kBlockSize] = {};
    std::memcpy(block, input + whole, n - whole);
    std::uint32_t L = LoadLittleEndian(block);
    std::uint32_t R = LoadLittleEndian(block + 4);
    Decipher(L, R);
    StoreLittleEndian(output + whole, L);
    StoreLittleEndian(output + whole + 4, R);
  }
  return true;
}

}  // namespace corvane
