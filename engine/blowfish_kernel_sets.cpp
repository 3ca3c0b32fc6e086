#include "blowfish_kernel_sets.h"

#include <atomic>
#include <cstring>

#include "blowfish_init_tables.h"
#include "blowfish_kernels.h"

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#elif defined(__unix__) || defined(__APPLE__)
#include <time.h>
#endif

namespace corvane::detail {
namespace {

using kernels::Layout;
using kernels::ShiftMask;

void ScheduleBaseline(std::uint32_t* P, std::uint32_t* S, const unsigned char* key, std::uint32_t keyLength) {
  kernels::Schedule<ShiftMask>(P, S, kInitialPArray, kInitialSBoxes, key, keyLength);
}

template <Layout layout, int W>
constexpr BlowfishKernels Baseline(const char* name) {
  return {name,
          W,
          "baseline",
          CpuFeature::None,
          ScheduleBaseline,
          kernels::Blocks<layout, W, false, ShiftMask>,
          kernels::Blocks<layout, W, true, ShiftMask>};
}

constexpr BlowfishKernels kBaselinePacked = Baseline<Layout::Packed, kPackedWidth>("packed");
constexpr BlowfishKernels kBaselineSplit = Baseline<Layout::Split, kSplitWidth>("split");

// 64-bit targets hold a block in one register; 32-bit ones use the split layout.
constexpr bool kPackedTarget = UINTPTR_MAX > 0xFFFFFFFFu;

struct CpuFeatures {
  bool bmi1 = false, avx2 = false, avx512 = false;
};

// CPUID traps to the hypervisor in a virtual machine: about 11 us each on the machine
// the benchmarks ran on, so it runs three times per process (leaves 0, 1 and 7), and
// the answer is kept. Two threads that both find nothing kept both ask; same answer.
constexpr unsigned kKnown = 1, kBmi1 = 2, kAvx2 = 4, kAvx512 = 8;
std::atomic<unsigned> g_cpuFeatures{0};

unsigned QueryCpuFeatures() {
  unsigned bits = kKnown;
#if defined(__i386__) || defined(__x86_64__)
  const unsigned maxLeaf = __get_cpuid_max(0, nullptr);
  if (maxLeaf < 7) return bits;
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  __cpuid(1, eax, ebx, ecx, edx);
  const bool avx = (ecx & bit_AVX) != 0 && (ecx & bit_OSXSAVE) != 0;
  unsigned ebx7 = 0;
  __cpuid_count(7, 0, eax, ebx7, ecx, edx);
  const bool bmi1 = (ebx7 & bit_BMI) != 0;
  if (bmi1) bits |= kBmi1;
  if (!avx) return bits;
  // The registers' state must be saved by the operating system on a thread switch:
  // XCR0 bits 1 and 2 (SSE, AVX) for 256-bit registers, 5 to 7 besides for AVX-512.
  unsigned xcr0 = 0, xcr0High = 0;
  __asm__ __volatile__("xgetbv" : "=a"(xcr0), "=d"(xcr0High) : "c"(0));
  const bool ymmState = (xcr0 & 0x06) == 0x06, zmmState = (xcr0 & 0xE6) == 0xE6;
  const bool avx2 = ymmState && bmi1 && (ebx7 & bit_AVX2) != 0;
  if (avx2) bits |= kAvx2;
  if (zmmState && avx2 && (ebx7 & bit_AVX512F) != 0) bits |= kAvx512;
#endif
  return bits;
}

CpuFeatures ReadCpuFeatures() {
  unsigned bits = g_cpuFeatures.load(std::memory_order_relaxed);
  if (bits == 0) {
    bits = QueryCpuFeatures();
    g_cpuFeatures.store(bits, std::memory_order_relaxed);
  }
  CpuFeatures features;
  features.bmi1 = (bits & kBmi1) != 0;
  features.avx2 = (bits & kAvx2) != 0;
  features.avx512 = (bits & kAvx512) != 0;
  return features;
}

bool Supports(const CpuFeatures& cpu, CpuFeature feature) {
  switch (feature) {
    case CpuFeature::None: return true;
    case CpuFeature::Bmi1: return cpu.bmi1;
    case CpuFeature::Avx2: return cpu.avx2;
    case CpuFeature::Avx512: return cpu.avx512;
  }
  return false;
}

// The scalar set CPUID points to (BEXTR measured faster wherever BMI1 exists), and
// after it the vector sets this CPU can run.
std::size_t Candidates(const CpuFeatures& cpu, const BlowfishKernels* out[kMaxKernelSets]) {
  std::size_t n = 0;
  const BlowfishKernels* bmi = kPackedTarget ? BmiPackedKernels() : BmiSplitKernels();
  out[n++] = bmi != nullptr && cpu.bmi1 ? bmi : kPackedTarget ? &kBaselinePacked : &kBaselineSplit;
  const BlowfishKernels* const vectors[] = {Avx2Kernels(), Avx512Kernels()};
  for (const BlowfishKernels* vector : vectors) {
    if (vector != nullptr && Supports(cpu, vector->needs)) out[n++] = vector;
  }
  return n;
}

// A tick count for comparing short runs on one thread: the time-stamp counter on x86,
// which needs neither the C++ runtime nor a system call; elsewhere the monotonic clock.
std::uint64_t Ticks() {
#if defined(__i386__) || defined(__x86_64__)
  return __builtin_ia32_rdtsc();
#elif defined(__unix__) || defined(__APPLE__)
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<std::uint64_t>(t.tv_sec) * 1000000000u + static_cast<std::uint64_t>(t.tv_nsec);
#else
  return 0;  // no clock: every candidate times 0 and the reference is kept
#endif
}

// The engine's choice. Published once: the first thread to finish a calibration writes
// g_published and then the active set; a second thread that found no active set and
// calibrated at the same time (a benign race) runs its own equally correct choice for
// that one call. No function-local static, lock or allocation: the engine is built into
// DLLs that do not link the C++ runtime.
std::atomic<const BlowfishKernels*> g_active{nullptr};
std::atomic<int> g_publishState{0};  // 0 nothing, 1 being written, 2 published
KernelChoice g_published;           // zero-initialised, written once under state 1

// Why the calibration is cheap: it runs once per process, and costs about one key
// schedule (about 30 us: 521 encipherments), which every single Crypt operation pays.
// Each candidate runs over 512 bytes 7 times (the check, which warms it, its decipher
// check, 5 timed passes): 1 to 2 us a pass at these kernels' speeds, about 27 us in all
// for the two candidates of an AVX2 CPU (measured on a Zen 3 shared with other jobs),
// a little more with AVX-512's third, whose passes are the fastest. The CPUID reading
// (three leaves, about 33 us in that virtual machine) comes on top, once, as the BMI1
// check alone did before.
const BlowfishKernels& Choose() {
  const CpuFeatures cpu = ReadCpuFeatures();
  const BlowfishKernels* candidates[kMaxKernelSets];
  const std::size_t count = Candidates(cpu, candidates);
  KernelChoice choice;
  CalibrateBlowfishKernels(candidates, count, &choice);
  int expected = 0;
  if (g_publishState.compare_exchange_strong(expected, 1, std::memory_order_acq_rel)) {
    g_published = choice;
    g_active.store(choice.chosen, std::memory_order_release);
    g_publishState.store(2, std::memory_order_release);
  }
  return *choice.chosen;
}

}  // namespace

#ifndef CORVANE_BMI_KERNELS
const BlowfishKernels* BmiPackedKernels() { return nullptr; }
const BlowfishKernels* BmiSplitKernels() { return nullptr; }
#endif
#ifndef CORVANE_AVX2_KERNELS
const BlowfishKernels* Avx2Kernels() { return nullptr; }
#endif
#ifndef CORVANE_AVX512_KERNELS
const BlowfishKernels* Avx512Kernels() { return nullptr; }
#endif

bool CpuSupports(CpuFeature feature) { return Supports(ReadCpuFeatures(), feature); }

std::size_t CompiledBlowfishKernels(const BlowfishKernels* sets[kMaxKernelSets]) {
  std::size_t n = 0;
  sets[n++] = &kBaselinePacked;
  sets[n++] = &kBaselineSplit;
  const BlowfishKernels* const optional[] = {BmiPackedKernels(), BmiSplitKernels(), Avx2Kernels(), Avx512Kernels()};
  for (const BlowfishKernels* set : optional) {
    if (set != nullptr) sets[n++] = set;
  }
  return n;
}

std::size_t RunnableBlowfishKernels(const BlowfishKernels* sets[kMaxKernelSets]) {
  const CpuFeatures cpu = ReadCpuFeatures();
  const BlowfishKernels* compiled[kMaxKernelSets];
  const std::size_t count = CompiledBlowfishKernels(compiled);
  std::size_t n = 0;
  for (std::size_t i = 0; i < count; ++i) {
    if (Supports(cpu, compiled[i]->needs)) sets[n++] = compiled[i];
  }
  return n;
}

const BlowfishKernels& ActiveBlowfishKernels() {
  if (const BlowfishKernels* active = g_active.load(std::memory_order_acquire)) return *active;
  return Choose();
}

const KernelChoice* PublishedBlowfishKernelChoice() {
  return g_publishState.load(std::memory_order_acquire) == 2 ? &g_published : nullptr;
}

void CalibrateBlowfishKernels(const BlowfishKernels* const candidates[], std::size_t count, KernelChoice* choice) {
  if (count > kMaxKernelSets) count = kMaxKernelSets;
  choice->count = count;
  if (count == 0) {
    choice->chosen = nullptr;
    choice->reason = ChoiceReason::OnlyCandidate;
    return;
  }
  constexpr std::size_t kBytes = 8 * kCalibrationBlocks;
  // Any tables will do for comparing kernels: Blowfish's initial ones need no key schedule.
  const std::uint32_t* P = kInitialPArray;
  const std::uint32_t* S = kInitialSBoxes;
  unsigned char input[kBytes], reference[kBytes], work[kBytes];
  std::uint32_t x = 0x9E3779B9u;  // xorshift: every byte value, no allocation, no seed state
  for (std::size_t i = 0; i < kBytes; i += 4) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    std::memcpy(input + i, &x, 4);
  }

  candidates[0]->encipher(P, S, input, reference, kCalibrationBlocks);  // also warms the tables
  for (std::size_t i = 0; i < count; ++i) {
    KernelTiming& timing = choice->candidates[i];
    timing.set = candidates[i];
    timing.ticks = ~std::uint64_t{0};
    timing.agrees = true;
    if (i == 0) continue;
    // The check, which is also the candidate's warm-up: a set compiled for instructions
    // this build machine never ran is trusted only with the reference's bytes.
    timing.set->encipher(P, S, input, work, kCalibrationBlocks);
    timing.agrees = std::memcmp(work, reference, kBytes) == 0;
    timing.set->decipher(P, S, reference, work, kCalibrationBlocks);
    timing.agrees = timing.agrees && std::memcmp(work, input, kBytes) == 0;
  }
  // Passes interleaved over the candidates, so that a moment of interference or a clock
  // change hits all of them alike; the fastest pass of each counts.
  for (int pass = 0; count > 1 && pass < kCalibrationPasses; ++pass) {
    for (std::size_t i = 0; i < count; ++i) {
      KernelTiming& timing = choice->candidates[i];
      if (!timing.agrees) continue;
      const std::uint64_t start = Ticks();
      timing.set->encipher(P, S, input, work, kCalibrationBlocks);
      const std::uint64_t ticks = Ticks() - start;
      if (ticks < timing.ticks) timing.ticks = ticks;
    }
  }
  choice->chosen = choice->candidates[PickBlowfishKernels(choice->candidates, count, &choice->reason)].set;
}

std::size_t PickBlowfishKernels(const KernelTiming timings[], std::size_t count, ChoiceReason* reason) {
  if (count <= 1) {
    *reason = ChoiceReason::OnlyCandidate;
    return 0;
  }
  std::size_t best = 0;
  for (std::size_t i = 1; i < count; ++i) {
    if (timings[i].agrees && timings[i].ticks < timings[best].ticks) best = i;
  }
  if (best != 0 && timings[best].ticks * kMarginDenominator <= timings[0].ticks * kMarginNumerator) {
    *reason = ChoiceReason::Fastest;
    return best;
  }
  *reason = ChoiceReason::ReferenceKept;
  return 0;
}

}  // namespace corvane::detail
