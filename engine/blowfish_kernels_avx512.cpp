// The vector kernels on 16 lanes (AVX-512F), compiled with -mavx512f -mavx2 -mbmi. Used
// only after CPUID and XGETBV have reported AVX-512F, AVX2, BMI1 and the registers'
// state saved by the operating system (blowfish_kernel_sets.cpp). As in
// blowfish_kernels_bmi.cpp, nothing with external linkage is compiled here besides the
// accessor.
#include "blowfish_init_tables.h"
#include "blowfish_kernel_sets.h"
#include "blowfish_kernels_vector.h"

#if !defined(__AVX512F__) || !defined(__AVX2__) || !defined(__BMI__)
#error "compile this file with -mavx512f -mavx2 -mbmi"
#endif

namespace corvane::detail {
namespace {

using kernels::Avx512Lanes;

// The key schedule is one serial chain; vectors do nothing for it.
void ScheduleAvx512(std::uint32_t* P, std::uint32_t* S, const unsigned char* key, std::uint32_t keyLength) {
  kernels::Schedule<kernels::Bextr>(P, S, kInitialPArray, kInitialSBoxes, key, keyLength);
}

constexpr BlowfishKernels kAvx512 = {"gather",
                                     kAvx512Groups * Avx512Lanes::kLanes,
                                     "avx512f",
                                     CpuFeature::Avx512,
                                     ScheduleAvx512,
                                     kernels::VectorBlocks<Avx512Lanes, kAvx512Groups, false>,
                                     kernels::VectorBlocks<Avx512Lanes, kAvx512Groups, true>};

}  // namespace

const BlowfishKernels* Avx512Kernels() { return &kAvx512; }

}  // namespace corvane::detail
