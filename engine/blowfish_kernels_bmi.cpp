// The kernels again, compiled with BMI1 (-mbmi) so that F's middle bytes come out with
// BEXTR. Used only after CPUID has reported BMI1 (blowfish_kernel_sets.cpp). Nothing
// with external linkage may be compiled here besides the accessors and the schedule
// that the vector sets share: an inline function emitted from this file could replace
// the baseline copy everywhere.
#include "blowfish_init_tables.h"
#include "blowfish_kernel_sets.h"
#include "blowfish_kernels.h"

#ifndef __BMI__
#error "compile this file with -mbmi"
#endif

namespace corvane::detail {
using kernels::Bextr;
using kernels::Layout;

void ScheduleBmi(std::uint32_t* P, std::uint32_t* S, const unsigned char* key, std::uint32_t keyLength) {
  kernels::Schedule<Bextr>(P, S, kInitialPArray, kInitialSBoxes, key, keyLength);
}

namespace {

template <Layout layout, int W>
constexpr BlowfishKernels Bmi(const char* name) {
  return {name,
          W,
          "bmi1",
          CpuFeature::Bmi1,
          ScheduleBmi,
          kernels::Blocks<layout, W, false, Bextr>,
          kernels::Blocks<layout, W, true, Bextr>};
}

constexpr BlowfishKernels kBmiPacked = Bmi<Layout::Packed, kPackedWidth>("packed");
constexpr BlowfishKernels kBmiSplit = Bmi<Layout::Split, kSplitWidth>("split");

}  // namespace

const BlowfishKernels* BmiPackedKernels() { return &kBmiPacked; }
const BlowfishKernels* BmiSplitKernels() { return &kBmiSplit; }

}  // namespace corvane::detail
