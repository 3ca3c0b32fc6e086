// The vector kernels on 8 lanes (AVX2), compiled with -mavx2 -mbmi. Used only after
// CPUID and XGETBV have reported AVX2, BMI1 and the registers' state saved by the
// operating system (blowfish_kernel_sets.cpp). As in blowfish_kernels_bmi.cpp, nothing
// with external linkage is compiled here besides the accessor.
#include "blowfish_kernel_sets.h"
#include "blowfish_kernels_vector.h"

#if !defined(__AVX2__) || !defined(__BMI__)
#error "compile this file with -mavx2 -mbmi"
#endif

namespace corvane::detail {
namespace {

using kernels::Avx2Lanes;

constexpr BlowfishKernels kAvx2 = {"gather",
                                   kAvx2Groups * Avx2Lanes::kLanes,
                                   "avx2",
                                   CpuFeature::Avx2,
                                   ScheduleBmi,  // one serial chain: vectors do nothing for it
                                   kernels::VectorBlocks<Avx2Lanes, kAvx2Groups, false>,
                                   kernels::VectorBlocks<Avx2Lanes, kAvx2Groups, true>};

}  // namespace

const BlowfishKernels* Avx2Kernels() { return &kAvx2; }

}  // namespace corvane::detail
