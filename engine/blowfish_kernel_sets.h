// The kernel sets behind BlowfishEngine and how one is chosen for the running CPU.
// Internal to the engine; tests and benchmarks reach every set through this header.
#pragma once

#include <cstddef>
#include <cstdint>

namespace corvane::detail {

// Interleave widths, chosen by measurement (scripts/bench.sh, README "Performance").
// x64, packed layout: 8 blocks are 8 registers, and with the S-box pointer, the subkey
// pair and four temporaries the 15 registers are full; 10 and 12 measured no faster.
// 32-bit x86, split layout: 7 registers never hold even two blocks, so every width
// spills; the i686 compiler's code has about 4.2 stack accesses per block round at
// widths 3 to 6 and 6 at width 8 (bench/x86_spills.sh), and 6 blocks in flight cover
// the round's latency. Measured on x64 code limited to the same 7 registers, 6 is the
// fastest width.
constexpr int kPackedWidth = 8;
constexpr int kSplitWidth = 6;

// Whole blocks from in to out (distinct buffers), in the engine's block convention.
using BlockFunction = void (*)(const std::uint32_t* P, const std::uint32_t* S, const unsigned char* in,
                               unsigned char* out, std::size_t blocks);
// The whole key schedule into P (18 words) and S (1024 words); keyLength >= 1.
using ScheduleFunction = void (*)(std::uint32_t* P, std::uint32_t* S, const unsigned char* key,
                                  std::uint32_t keyLength);

struct BlowfishKernels {
  const char* layout;       // "packed" or "split"
  int width;                // blocks in flight
  const char* instructions; // "baseline" or "bmi1"
  ScheduleFunction schedule;
  BlockFunction encipher;
  BlockFunction decipher;
};

// The set the engine uses on this CPU, chosen once.
const BlowfishKernels& ActiveBlowfishKernels();

// Every set compiled into this build that this CPU can run, the active one among them;
// returns how many, at most kMaxKernelSets.
constexpr std::size_t kMaxKernelSets = 4;
std::size_t RunnableBlowfishKernels(const BlowfishKernels* sets[kMaxKernelSets]);

// Sets built with BMI1 (BEXTR), defined only where the compiler targets x86; null
// elsewhere. blowfish_kernels_bmi.cpp.
const BlowfishKernels* BmiPackedKernels();
const BlowfishKernels* BmiSplitKernels();

}  // namespace corvane::detail
