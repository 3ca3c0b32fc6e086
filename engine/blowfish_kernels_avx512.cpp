// The vector kernels on 16 lanes (AVX-512F), compiled with -mavx512f -mavx2 -mbmi. Used
// only after CPUID and XGETBV have reported AVX-512F, AVX2, BMI1 and the registers'
// state saved by the operating system (blowfish_kernel_sets.cpp). As in
// blowfish_kernels_bmi.cpp, nothing with external linkage is compiled here besides the
// accessor.
#include "blowfish_kernel_sets.h"
#include "blowfish_kernels_vector.h"

#if !defined(__AVX512F__) || !defined(__AVX2__) || !defined(__BMI__)
#error "compile this file with -mavx512f -mavx2 -mbmi"
#endif

namespace corvane::detail {
namespace {

using kernels::Avx512Lanes;

constexpr BlowfishKernels kAvx512 = {"gather",
                                     kAvx512Groups * Avx512Lanes::kLanes,
                                     "avx512f",
                                     CpuFeature::Avx512,
                                     ScheduleBmi,  // one serial chain: vectors do nothing for it
                                     kernels::VectorBlocks<Avx512Lanes, kAvx512Groups, false>,
                                     kernels::VectorBlocks<Avx512Lanes, kAvx512Groups, true>};

}  // namespace

const BlowfishKernels* Avx512Kernels() { return &kAvx512; }

}  // namespace corvane::detail
