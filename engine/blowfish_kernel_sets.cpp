#include "blowfish_kernel_sets.h"

#include "blowfish_init_tables.h"
#include "blowfish_kernels.h"

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
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
  return {name, W, "baseline", ScheduleBaseline, kernels::Blocks<layout, W, false, ShiftMask>,
          kernels::Blocks<layout, W, true, ShiftMask>};
}

const BlowfishKernels kBaselinePacked = Baseline<Layout::Packed, kPackedWidth>("packed");
const BlowfishKernels kBaselineSplit = Baseline<Layout::Split, kSplitWidth>("split");

// 64-bit targets hold a block in one register; 32-bit ones use the split layout.
constexpr bool kPackedTarget = UINTPTR_MAX > 0xFFFFFFFFu;

bool CpuHasBmi1() {
#if defined(__i386__) || defined(__x86_64__)
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx) == 0) return false;
  return (ebx & bit_BMI) != 0;
#else
  return false;
#endif
}

const BlowfishKernels& Choose() {
  const BlowfishKernels* bmi = kPackedTarget ? BmiPackedKernels() : BmiSplitKernels();
  if (bmi != nullptr && CpuHasBmi1()) return *bmi;
  return kPackedTarget ? kBaselinePacked : kBaselineSplit;
}

}  // namespace

#ifndef CORVANE_BMI_KERNELS
const BlowfishKernels* BmiPackedKernels() { return nullptr; }
const BlowfishKernels* BmiSplitKernels() { return nullptr; }
#endif

const BlowfishKernels& ActiveBlowfishKernels() {
  static const BlowfishKernels& active = Choose();  // CPUID is slow under virtualisation: once
  return active;
}

std::size_t RunnableBlowfishKernels(const BlowfishKernels* sets[kMaxKernelSets]) {
  std::size_t n = 0;
  sets[n++] = &kBaselinePacked;
  sets[n++] = &kBaselineSplit;
  if (CpuHasBmi1()) {
    if (const BlowfishKernels* bmi = BmiPackedKernels()) sets[n++] = bmi;
    if (const BlowfishKernels* bmi = BmiSplitKernels()) sets[n++] = bmi;
  }
  return n;
}

}  // namespace corvane::detail
