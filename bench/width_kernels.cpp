// Compiled several times with different options and CORVANE_WIDTH_SET set to the name
// of the function to define (bench/CMakeLists.txt). The kernels are flattened into one
// function of one pointer argument each, so that the x86 proxies never pass arguments
// in the registers they reserve.
#include "bench/width_kernels.h"

#ifdef CORVANE_WIDTH_LANES
#include "engine/blowfish_kernels_vector.h"
#else
#include "engine/blowfish_kernels.h"
#endif

namespace corvane::bench {
namespace {

using kernels::Layout;
#ifdef __BMI__
using Bytes = kernels::Bextr;
constexpr detail::CpuFeature kNeeds = detail::CpuFeature::Bmi1;
#else
using Bytes = kernels::ShiftMask;
constexpr detail::CpuFeature kNeeds = detail::CpuFeature::None;
#endif

template <Layout layout, int W>
__attribute__((flatten)) void Encipher(const WidthArgs* a) {
  kernels::Blocks<layout, W, false, Bytes>(a->P, a->S, a->in, a->out, a->blocks);
}

#define CORVANE_SPLIT(W) {"split", W, CORVANE_WIDTH_VARIANT, kNeeds, Encipher<Layout::Split, W>}
#define CORVANE_PACKED(W) {"packed", W, CORVANE_WIDTH_VARIANT, kNeeds, Encipher<Layout::Packed, W>}

#ifdef CORVANE_WIDTH_LANES
using Lanes = kernels::CORVANE_WIDTH_LANES;
template <int Groups>
__attribute__((flatten)) void Gather(const WidthArgs* a) {
  kernels::VectorBlocks<Lanes, Groups, false>(a->P, a->S, a->in, a->out, a->blocks);
}
#define CORVANE_GATHER(G) {"gather", G * Lanes::kLanes, CORVANE_WIDTH_VARIANT, CORVANE_WIDTH_NEEDS, Gather<G>}

const WidthKernel kTable[] = {CORVANE_GATHER(1), CORVANE_GATHER(2), CORVANE_GATHER(3), CORVANE_GATHER(4)};
#else
const WidthKernel kTable[] = {
    CORVANE_SPLIT(1), CORVANE_SPLIT(2), CORVANE_SPLIT(3), CORVANE_SPLIT(4), CORVANE_SPLIT(5), CORVANE_SPLIT(6),
    CORVANE_SPLIT(8),
// 32-bit x86 has no 64-bit registers to pack blocks into
#if !defined(CORVANE_WIDTH_X86_PROXY) && UINTPTR_MAX > 0xFFFFFFFFu
    CORVANE_PACKED(2), CORVANE_PACKED(4), CORVANE_PACKED(6), CORVANE_PACKED(8), CORVANE_PACKED(10),
    CORVANE_PACKED(12),
#endif
};
#endif

}  // namespace

std::size_t CORVANE_WIDTH_SET(const WidthKernel** table) {
  *table = kTable;
  return sizeof kTable / sizeof kTable[0];
}

}  // namespace corvane::bench
