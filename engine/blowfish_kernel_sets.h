// The kernel sets behind BlowfishEngine and how one is chosen for the running CPU.
// Internal to the engine; tests and benchmarks reach every set through this header.
#pragma once

#include <cstddef>
#include <cstdint>

namespace corvane::detail {

// Interleave widths, chosen by measurement (scripts/bench.sh, docs/performance.md).
// x64, packed layout: 8 blocks are 8 registers, and with the S-box pointer, the subkey
// pair and four temporaries the 15 registers are full; 10 and 12 measured no faster.
// 32-bit x86, split layout: 7 registers never hold even two blocks, so every width
// spills; the i686 compiler's code has about 4.2 stack accesses per block round at
// widths 3 to 6 and 6 at width 8 (bench/x86_spills.sh), and 6 blocks in flight cover
// the round's latency. Measured on x64 code limited to the same 7 registers, 6 is the
// fastest width; on the i686 build's own code under 32-bit Wine, widths 3 to 6 are within
// a few percent of each other, 6 the fastest or within 4% of it in every sweep, and 8 is
// slower.
constexpr int kPackedWidth = 8;
constexpr int kSplitWidth = 6;
// Vector kernels (blowfish_kernels_vector.h): registers of blocks in flight. With AVX-512,
// two registers of 16 blocks measured fastest on an Intel Xeon (one gave about half).
constexpr int kAvx2Groups = 2;
constexpr int kAvx512Groups = 2;

// Whole blocks from in to out (distinct buffers), in the engine's block convention.
using BlockFunction = void (*)(const std::uint32_t* P, const std::uint32_t* S, const unsigned char* in,
                               unsigned char* out, std::size_t blocks);
// The whole key schedule into P (18 words) and S (1024 words); keyLength >= 1.
using ScheduleFunction = void (*)(std::uint32_t* P, std::uint32_t* S, const unsigned char* key,
                                  std::uint32_t keyLength);

// The key schedule compiled with BMI1 (blowfish_kernels_bmi.cpp), for every set that needs it.
void ScheduleBmi(std::uint32_t* P, std::uint32_t* S, const unsigned char* key, std::uint32_t keyLength);

// What a set needs of the CPU beyond the build's baseline.
enum class CpuFeature { None, Bmi1, Avx2, Avx512 };

struct BlowfishKernels {
  const char* layout;       // "packed", "split" or "gather"
  int width;                // blocks in flight
  const char* instructions; // "baseline", "bmi1", "avx2" or "avx512f"
  CpuFeature needs;
  ScheduleFunction schedule;
  BlockFunction encipher;
  BlockFunction decipher;
};

// Whether this CPU (and its operating system, for the vector registers' state) offers
// the feature. "Avx2" includes BMI1 and "Avx512" AVX2: the vector sets use both.
bool CpuSupports(CpuFeature feature);

// Every set compiled into this build, runnable here or not; returns how many.
constexpr std::size_t kMaxKernelSets = 6;
std::size_t CompiledBlowfishKernels(const BlowfishKernels* sets[kMaxKernelSets]);
// Those of them this CPU can run, the active one among them.
std::size_t RunnableBlowfishKernels(const BlowfishKernels* sets[kMaxKernelSets]);

// The set the engine uses in this process, chosen at the first call (see Choose in
// blowfish_kernel_sets.cpp) and kept.
const BlowfishKernels& ActiveBlowfishKernels();

// --- the choice ----------------------------------------------------------------------
// The scalar set that CPUID points to is the reference; each vector set the CPU can run
// is checked against it on a calibration buffer and timed beside it, and one that
// disagrees is never chosen. Exposed for the tests (which pass sets of their own) and
// for the benchmarks (which print the engine's choice).

struct KernelTiming {
  const BlowfishKernels* set;
  std::uint64_t ticks;  // the fastest of the timed passes over the calibration buffer
  bool agrees;          // encipher gave the reference's bytes, decipher undid them
};

enum class ChoiceReason {
  OnlyCandidate,     // nothing to compare: the reference
  Fastest,           // a candidate beat the reference by the margin
  ReferenceKept,     // no agreeing candidate beat the reference by the margin
};

struct KernelChoice {
  const BlowfishKernels* chosen;
  ChoiceReason reason;
  std::size_t count;  // candidates[0] is the reference
  KernelTiming candidates[kMaxKernelSets];
};

// A candidate must take at most this share of the reference's time to replace it: a
// margin against the calibration's noise, so that the choice is never slower.
constexpr std::uint64_t kMarginNumerator = 9, kMarginDenominator = 10;
constexpr std::size_t kCalibrationBlocks = 64;  // 512 bytes: two rounds of the widest kernel's groups
constexpr int kCalibrationPasses = 5;

// Checks and times the candidates (count at most kMaxKernelSets, candidates[0] the
// reference, never rejected) and records the outcome. No allocation: the buffers are
// on the stack (1.5 KiB), the tables are Blowfish's initial ones.
void CalibrateBlowfishKernels(const BlowfishKernels* const candidates[], std::size_t count, KernelChoice* choice);
// The decision alone, on measured timings: the index of the chosen one.
std::size_t PickBlowfishKernels(const KernelTiming timings[], std::size_t count, ChoiceReason* reason);

// The engine's own choice, once ActiveBlowfishKernels has made it; null before.
const KernelChoice* PublishedBlowfishKernelChoice();

// Sets defined only where the compiler targets x86 (x64 for the vector ones); null
// elsewhere. blowfish_kernels_bmi.cpp, blowfish_kernels_avx2.cpp, blowfish_kernels_avx512.cpp.
const BlowfishKernels* BmiPackedKernels();
const BlowfishKernels* BmiSplitKernels();
const BlowfishKernels* Avx2Kernels();
const BlowfishKernels* Avx512Kernels();

}  // namespace corvane::detail
