// Blowfish ECB kernels on vector registers: each lane of a register holds one half of
// one block, and the four S-box lookups of a round are four gathers from the one flat
// S-box array (shift and mask give the byte, the S-box is a base pointer 256 words
// apart into the same array). One template serves every vector width; the intrinsics
// sit in small traits (Avx2Lanes: 8 lanes, Avx512Lanes: 16), so that the 8-lane
// instantiation, which runs on any AVX2 CPU, exercises the same logic as the 16-lane one.
//
// A gather has a long latency (about 20 to 30 cycles), and a round's four lookups of one
// register depend on the round before, so one register of blocks leaves the load units
// idle most of the time: Groups independent registers of blocks are in flight, round by
// round, for the out-of-order core to overlap.
//
// Include only from a file compiled for the traits' instruction sets (-mavx2, -mavx512f);
// like blowfish_kernels.h, everything here has internal linkage.
#pragma once

// GCC 12 warns inside its own AVX-512 intrinsics (their "undefined" source operand,
// GCC bug 105593); the warning stays on for everything else.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

#include <cstddef>
#include <cstdint>

#include "blowfish_kernels.h"

namespace corvane {
namespace {  // internal linkage, see blowfish_kernels.h

namespace kernels {

// Each trait: Vec, kLanes, and the operations the template needs. EvenWords/OddWords
// split two registers of whole blocks (L0 R0 L1 R1 ...) into their left and right
// halves, Interleave{Low,High} put them back. Both work within 128-bit lanes, so the
// blocks come out in a permuted lane order that the store undoes exactly:
//   per 128-bit lane i, even = (a[4i] a[4i+2] b[4i] b[4i+2]), odd likewise with 4i+1
//   and 4i+3, and unpacklo(even, odd) = a's lane i, unpackhi(even, odd) = b's lane i.
#ifdef __AVX2__
struct Avx2Lanes {
  using Vec = __m256i;
  static constexpr int kLanes = 8;
  static inline __attribute__((always_inline)) Vec Load(const unsigned char* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
  }
  static inline __attribute__((always_inline)) void Store(unsigned char* p, Vec v) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v);
  }
  static inline __attribute__((always_inline)) Vec Splat(u32 x) { return _mm256_set1_epi32(static_cast<int>(x)); }
  static inline __attribute__((always_inline)) Vec Xor(Vec a, Vec b) { return _mm256_xor_si256(a, b); }
  static inline __attribute__((always_inline)) Vec Add(Vec a, Vec b) { return _mm256_add_epi32(a, b); }
  static inline __attribute__((always_inline)) Vec And(Vec a, Vec b) { return _mm256_and_si256(a, b); }
  template <int n>
  static inline __attribute__((always_inline)) Vec ShiftRight(Vec a) {
    return _mm256_srli_epi32(a, n);
  }
  static inline __attribute__((always_inline)) Vec Gather(const u32* base, Vec index) {
    return _mm256_i32gather_epi32(reinterpret_cast<const int*>(base), index, 4);
  }
  static inline __attribute__((always_inline)) Vec EvenWords(Vec a, Vec b) {
    return _mm256_castps_si256(
        _mm256_shuffle_ps(_mm256_castsi256_ps(a), _mm256_castsi256_ps(b), _MM_SHUFFLE(2, 0, 2, 0)));
  }
  static inline __attribute__((always_inline)) Vec OddWords(Vec a, Vec b) {
    return _mm256_castps_si256(
        _mm256_shuffle_ps(_mm256_castsi256_ps(a), _mm256_castsi256_ps(b), _MM_SHUFFLE(3, 1, 3, 1)));
  }
  static inline __attribute__((always_inline)) Vec InterleaveLow(Vec l, Vec r) { return _mm256_unpacklo_epi32(l, r); }
  static inline __attribute__((always_inline)) Vec InterleaveHigh(Vec l, Vec r) { return _mm256_unpackhi_epi32(l, r); }
};
#endif

#ifdef __AVX512F__
struct Avx512Lanes {
  using Vec = __m512i;
  static constexpr int kLanes = 16;
  static inline __attribute__((always_inline)) Vec Load(const unsigned char* p) { return _mm512_loadu_si512(p); }
  static inline __attribute__((always_inline)) void Store(unsigned char* p, Vec v) { _mm512_storeu_si512(p, v); }
  static inline __attribute__((always_inline)) Vec Splat(u32 x) { return _mm512_set1_epi32(static_cast<int>(x)); }
  static inline __attribute__((always_inline)) Vec Xor(Vec a, Vec b) { return _mm512_xor_si512(a, b); }
  static inline __attribute__((always_inline)) Vec Add(Vec a, Vec b) { return _mm512_add_epi32(a, b); }
  static inline __attribute__((always_inline)) Vec And(Vec a, Vec b) { return _mm512_and_si512(a, b); }
  template <int n>
  static inline __attribute__((always_inline)) Vec ShiftRight(Vec a) {
    return _mm512_srli_epi32(a, n);
  }
  // Note the argument order: index first here, base first in the AVX2 form.
  static inline __attribute__((always_inline)) Vec Gather(const u32* base, Vec index) {
    return _mm512_i32gather_epi32(index, base, 4);
  }
  static inline __attribute__((always_inline)) Vec EvenWords(Vec a, Vec b) {
    return _mm512_castps_si512(
        _mm512_shuffle_ps(_mm512_castsi512_ps(a), _mm512_castsi512_ps(b), _MM_SHUFFLE(2, 0, 2, 0)));
  }
  static inline __attribute__((always_inline)) Vec OddWords(Vec a, Vec b) {
    return _mm512_castps_si512(
        _mm512_shuffle_ps(_mm512_castsi512_ps(a), _mm512_castsi512_ps(b), _MM_SHUFFLE(3, 1, 3, 1)));
  }
  static inline __attribute__((always_inline)) Vec InterleaveLow(Vec l, Vec r) { return _mm512_unpacklo_epi32(l, r); }
  static inline __attribute__((always_inline)) Vec InterleaveHigh(Vec l, Vec r) { return _mm512_unpackhi_epi32(l, r); }
};
#endif

// F on kLanes halves at once: the same shifts, masks and flat-array offsets as the
// scalar round function.
template <class V>
inline __attribute__((always_inline)) typename V::Vec VectorF(const u32* S, typename V::Vec x,
                                                              typename V::Vec byteMask) {
  const typename V::Vec s0 = V::Gather(S, V::template ShiftRight<24>(x));
  const typename V::Vec s1 = V::Gather(S + 256, V::And(V::template ShiftRight<16>(x), byteMask));
  const typename V::Vec s2 = V::Gather(S + 512, V::And(V::template ShiftRight<8>(x), byteMask));
  const typename V::Vec s3 = V::Gather(S + 768, V::And(x, byteMask));
  return V::Add(V::Xor(V::Add(s0, s1), s2), s3);
}

// groups * Groups * kLanes blocks: Groups registers of kLanes blocks each, round by
// round. Subkeys are broadcast from P as they are needed, so no vector of key material
// is ever kept in memory.
template <class V, int Groups, bool Decrypt>
void VectorGroups(const u32* P, const u32* S, const unsigned char* in, unsigned char* out, std::size_t groups) {
  using Vec = typename V::Vec;
  constexpr std::size_t kGroupBytes = 8 * V::kLanes;  // one register pair of blocks
  const Vec byteMask = V::Splat(255);
  for (; groups != 0; --groups, in += Groups * kGroupBytes, out += Groups * kGroupBytes) {
    Vec a[Groups], b[Groups];
#pragma GCC unroll 8
    for (int g = 0; g < Groups; ++g) {
      const Vec low = V::Load(in + g * kGroupBytes), high = V::Load(in + g * kGroupBytes + kGroupBytes / 2);
      a[g] = V::Xor(V::EvenWords(low, high), V::Splat(P[Sub<Decrypt>(0)]));
      b[g] = V::OddWords(low, high);
    }
#pragma GCC unroll 8
    for (int r = 1; r < 17; r += 2) {
#pragma GCC unroll 8
      for (int g = 0; g < Groups; ++g)
        b[g] = V::Xor(b[g], V::Xor(V::Splat(P[Sub<Decrypt>(r)]), VectorF<V>(S, a[g], byteMask)));
#pragma GCC unroll 8
      for (int g = 0; g < Groups; ++g)
        a[g] = V::Xor(a[g], V::Xor(V::Splat(P[Sub<Decrypt>(r + 1)]), VectorF<V>(S, b[g], byteMask)));
    }
#pragma GCC unroll 8
    for (int g = 0; g < Groups; ++g) {
      const Vec L = V::Xor(b[g], V::Splat(P[Sub<Decrypt>(17)])), R = a[g];
      V::Store(out + g * kGroupBytes, V::InterleaveLow(L, R));
      V::Store(out + g * kGroupBytes + kGroupBytes / 2, V::InterleaveHigh(L, R));
    }
  }
}

// Any number of whole blocks: groups of Groups registers, then what is left with fewer
// registers in flight, then fewer than one register's blocks through the scalar packed
// kernel (with BEXTR: every CPU with these vector instructions has BMI1).
template <class V, int Groups, bool Decrypt>
void VectorBlocks(const u32* P, const u32* S, const unsigned char* in, unsigned char* out, std::size_t blocks) {
  constexpr std::size_t kStep = static_cast<std::size_t>(Groups) * V::kLanes;
  const std::size_t groups = blocks / kStep;
  if (groups != 0) VectorGroups<V, Groups, Decrypt>(P, S, in, out, groups);
  const std::size_t done = groups * kStep;
  if constexpr (Groups > 1) {
    VectorBlocks<V, Groups / 2, Decrypt>(P, S, in + 8 * done, out + 8 * done, blocks - done);
  } else {
    Blocks<Layout::Packed, 8, Decrypt, Bextr>(P, S, in + 8 * done, out + 8 * done, blocks - done);
  }
}

}  // namespace kernels
}  // namespace
}  // namespace corvane
