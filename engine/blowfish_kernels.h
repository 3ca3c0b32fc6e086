// Blowfish kernels behind BlowfishEngine: the key schedule and ECB over whole blocks,
// with several independent blocks in flight.
//
// One Blowfish round is a serial chain (byte extraction, an S-box load, three
// dependent operations, an exclusive or), about 10 cycles on current x86 cores, while
// the core can start a new round of another block every 1.5 to 2 cycles. ECB blocks are
// independent, so the kernels run W blocks round by round: block j's round r waits for
// its own round r-1 only, and the out-of-order core overlaps the W chains.
//
// Two layouts of the W blocks:
//  - Split: L and R of every block in their own 32-bit variables (2W registers). Right
//    for 32-bit x86, which has 64-bit operations only in pairs.
//  - Packed: each block in one 64-bit variable, the half that feeds F in the low 32
//    bits. A round rotates the block by 32 bits and xors F into the low half, so W
//    blocks need W registers: x64's 15 hold 8 blocks beside the S-box pointer and the
//    temporaries. The two subkeys of a round pair go in with one 64-bit xor.
//
// Everything here has internal linkage on purpose: blowfish_kernels_bmi.cpp compiles
// this header with BMI instructions enabled, and the linker must never merge its
// copies with the baseline ones used on CPUs without them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace corvane {
namespace {  // internal linkage, see above

namespace kernels {

using u32 = std::uint32_t;
using u64 = std::uint64_t;

// F(x) = ((S0[a] + S1[b]) ^ S2[c]) + S3[d] over the one flat array of four S-boxes,
// a..d the bytes of x from the most significant. Two ways to take the bytes apart; x is
// a 32-bit half, or a packed block whose low 32 bits are the half.

// Shift and mask: any CPU.
struct ShiftMask {
  template <class T>
  static inline __attribute__((always_inline)) u32 F(const u32* S, T block) {
    const u32 x = static_cast<u32>(block);
    return ((S[x >> 24] + (S + 256)[(x >> 16) & 255]) ^ (S + 512)[(x >> 8) & 255]) + (S + 768)[x & 255];
  }
};

#ifdef __BMI__
// BEXTR for the second byte, the one shift and mask take two operations for: one
// instruction that leaves its source intact, so the round's critical path is one
// operation shorter. (The others stay as they are: the top byte is one shift, the third
// one MOVZX from a high-byte register, the low one MOVZX; each BEXTR also holds its
// control word in a register.) On x64 it works on the 64-bit register, whose result
// needs no zero extension before it indexes memory.
struct Bextr {
#ifdef __x86_64__
  using Word = u64;
  static inline __attribute__((always_inline)) u64 Byte2(u64 x) { return __builtin_ia32_bextr_u64(x, 16 | 8u << 8); }
#else
  using Word = u32;
  static inline __attribute__((always_inline)) u32 Byte2(u32 x) { return __builtin_ia32_bextr_u32(x, 16 | 8u << 8); }
#endif
  template <class T>
  static inline __attribute__((always_inline)) u32 F(const u32* S, T block) {
    const u32 x = static_cast<u32>(block);
    return ((S[x >> 24] + (S + 256)[Byte2(static_cast<Word>(block))]) ^ (S + 512)[(x >> 8) & 255]) +
           (S + 768)[x & 255];
  }
};
#endif

// Subkey i of the direction: P[i] enciphering, P[17 - i] deciphering.
template <bool Decrypt>
constexpr int Sub(int i) {
  return Decrypt ? 17 - i : i;
}

inline u32 Load32(const unsigned char* p) {
  return static_cast<u32>(p[0]) | static_cast<u32>(p[1]) << 8 | static_cast<u32>(p[2]) << 16 |
         static_cast<u32>(p[3]) << 24;
}
inline void Store32(unsigned char* p, u32 v) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
  p[2] = static_cast<unsigned char>(v >> 16);
  p[3] = static_cast<unsigned char>(v >> 24);
}
// A block as one little-endian 64-bit word: L in the low half, R in the high half.
inline u64 Load64(const unsigned char* p) { return static_cast<u64>(Load32(p)) | static_cast<u64>(Load32(p + 4)) << 32; }
inline void Store64(unsigned char* p, u64 v) {
  Store32(p, static_cast<u32>(v));
  Store32(p + 4, static_cast<u32>(v >> 32));
}
inline u64 Rotate32(u64 v) { return v >> 32 | v << 32; }

// Clears a local copy of subkeys where the optimiser cannot drop the stores.
inline void ClearLocal(void* p, std::size_t n) {
  std::memset(p, 0, n);
  __asm__ __volatile__("" : : "r"(p) : "memory");
}

// One block, the reference shape: rounds written out, halves alternating.
template <bool Decrypt, class X>
inline __attribute__((always_inline)) void OneBlock(const u32* P, const u32* S, const unsigned char* in,
                                                    unsigned char* out) {
  u32 a = Load32(in) ^ P[Sub<Decrypt>(0)];
  u32 b = Load32(in + 4);
#pragma GCC unroll 8
  for (int r = 1; r < 17; r += 2) {
    b ^= P[Sub<Decrypt>(r)] ^ X::F(S, a);
    a ^= P[Sub<Decrypt>(r + 1)] ^ X::F(S, b);
  }
  Store32(out, b ^ P[Sub<Decrypt>(17)]);
  Store32(out + 4, a);
}

// groups * W blocks, W at a time, halves in 32-bit variables.
template <int W, bool Decrypt, class X>
void SplitGroups(const u32* P, const u32* S, const unsigned char* in, unsigned char* out, std::size_t groups) {
  for (; groups != 0; --groups, in += 8 * W, out += 8 * W) {
    u32 a[W], b[W];
#pragma GCC unroll 16
    for (int j = 0; j < W; ++j) {
      a[j] = Load32(in + 8 * j) ^ P[Sub<Decrypt>(0)];
      b[j] = Load32(in + 8 * j + 4);
    }
#pragma GCC unroll 8
    for (int r = 1; r < 17; r += 2) {
#pragma GCC unroll 16
      for (int j = 0; j < W; ++j) b[j] ^= P[Sub<Decrypt>(r)] ^ X::F(S, a[j]);
#pragma GCC unroll 16
      for (int j = 0; j < W; ++j) a[j] ^= P[Sub<Decrypt>(r + 1)] ^ X::F(S, b[j]);
    }
#pragma GCC unroll 16
    for (int j = 0; j < W; ++j) {
      Store32(out + 8 * j, b[j] ^ P[Sub<Decrypt>(17)]);
      Store32(out + 8 * j + 4, a[j]);
    }
  }
}

// groups * W blocks, W at a time, each block in one 64-bit variable v = (hi, lo):
// before a round lo is the half that feeds F; the round makes v = (lo, hi ^ F(lo)).
// The subkeys of rounds r and r + 1 go in together as (P[r + 1], P[r]): hi, xored with
// round r + 1's subkey early, is not read before round r + 1 changes it anyway.
template <int W, bool Decrypt, class X>
void PackedGroups(const u32* P, const u32* S, const unsigned char* in, unsigned char* out, std::size_t groups) {
  u64 pair[8];
  for (int r = 0; r < 8; ++r)
    pair[r] = static_cast<u64>(P[Sub<Decrypt>(2 * r + 1)]) | static_cast<u64>(P[Sub<Decrypt>(2 * r + 2)]) << 32;
  const u32 first = P[Sub<Decrypt>(0)], last = P[Sub<Decrypt>(17)];
  for (; groups != 0; --groups, in += 8 * W, out += 8 * W) {
    u64 v[W];
#pragma GCC unroll 16
    for (int j = 0; j < W; ++j) v[j] = Load64(in + 8 * j) ^ first;
#pragma GCC unroll 8
    for (int r = 0; r < 8; ++r) {
#pragma GCC unroll 16
      for (int j = 0; j < W; ++j) v[j] = Rotate32(v[j]) ^ X::F(S, v[j]) ^ pair[r];
#pragma GCC unroll 16
      for (int j = 0; j < W; ++j) v[j] = Rotate32(v[j]) ^ X::F(S, v[j]);
    }
    // After 16 rounds v = (R, L ^ P[17]) of the usual form; the block is (L, R).
#pragma GCC unroll 16
    for (int j = 0; j < W; ++j) Store64(out + 8 * j, Rotate32(v[j]) ^ last);
  }
  ClearLocal(pair, sizeof pair);
}

enum class Layout { Split, Packed };

// Any number of whole blocks: groups of W, then what is left in smaller groups.
template <Layout layout, int W, bool Decrypt, class X>
void Blocks(const u32* P, const u32* S, const unsigned char* in, unsigned char* out, std::size_t blocks) {
  if constexpr (W == 1) {
    for (; blocks != 0; --blocks, in += 8, out += 8) OneBlock<Decrypt, X>(P, S, in, out);
  } else {
    const std::size_t groups = blocks / W;
    if (groups != 0) {
      if constexpr (layout == Layout::Packed) {
        PackedGroups<W, Decrypt, X>(P, S, in, out, groups);
      } else {
        SplitGroups<W, Decrypt, X>(P, S, in, out, groups);
      }
    }
    const std::size_t done = groups * W;
    Blocks<layout, W / 2, Decrypt, X>(P, S, in + 8 * done, out + 8 * done, blocks - done);
  }
}

// The key schedule: the tables from pi, the key xored into P cyclically (most
// significant byte first), then 521 encipherments chained through (L, R) whose
// outputs replace P[0..17] and the S-boxes in order. A serial chain, so the only
// speed there is comes from the round's latency: L and R stay in registers, P lives in
// a local copy that the S-box stores cannot alias, and the chain from one
// encipherment to the next (L = b ^ P[17], then L ^ P[0]) is one xor with P[17] ^ P[0].
template <class X>
void Schedule(u32* P, u32* S, const u32* initialP, const u32* initialS, const unsigned char* key, u32 n) {
  std::memcpy(S, initialS, 1024 * sizeof(u32));
  u32 p[18];
  u32 next = 0;
  for (int k = 0; k < 18; ++k) {
    u32 word = 0;
    for (int i = 0; i < 4; ++i) {
      word = word << 8 | key[next];
      if (++next == n) next = 0;
    }
    p[k] = initialP[k] ^ word;
  }

  // (a, b) is the block after its first xor: a = L ^ P[0], b = R; L = R = 0 at first.
  u32 a = p[0], b = 0;
  for (int k = 0; k < 18; k += 2) {
#pragma GCC unroll 8
    for (int r = 1; r < 17; r += 2) {
      b ^= p[r] ^ X::F(S, a);
      a ^= p[r + 1] ^ X::F(S, b);
    }
    const u32 L = b ^ p[17], R = a;
    p[k] = L;
    p[k + 1] = R;
    a = L ^ p[0];
    b = R;
  }

  const u32 last = p[17], chain = p[17] ^ p[0];
  for (u32* s = S; s != S + 1024; s += 2) {
#pragma GCC unroll 8
    for (int r = 1; r < 17; r += 2) {
      b ^= p[r] ^ X::F(S, a);
      a ^= p[r + 1] ^ X::F(S, b);
    }
    s[0] = b ^ last;
    s[1] = a;
    const u32 nextA = b ^ chain;
    b = a;
    a = nextA;
  }
  std::memcpy(P, p, sizeof p);
  ClearLocal(p, sizeof p);
}

}  // namespace kernels
}  // namespace
}  // namespace corvane
