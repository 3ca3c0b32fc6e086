// The interleave-width sweep: the engine's kernels instantiated at many widths, compiled
// several times (bench/CMakeLists.txt): plain, with BMI1, as "x86 proxies" that may use
// only the 7 general registers 32-bit x86 code has (rax, rbx, rcx, rdx, rsi, rdi, rbp;
// r8 to r15 reserved with -ffixed-*), the vector kernels with 1 to 4 registers of blocks
// in flight, and, in the x86 build, the split kernels as the i686 compiler makes them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/blowfish_kernel_sets.h"

namespace corvane::bench {

struct WidthArgs {
  const std::uint32_t* P;
  const std::uint32_t* S;
  const unsigned char* in;
  unsigned char* out;
  std::size_t blocks;
};

struct WidthKernel {
  const char* layout;   // "packed", "split" or "gather"
  int width;            // blocks in flight
  const char* variant;  // "x64", "x64 bmi1", "x86 proxy", "x86 proxy bmi1", "x64 avx2", "x64 avx512f",
                        // and in the x86 build "x86", "x86 bmi1"
  detail::CpuFeature needs;
  void (*encipher)(const WidthArgs*);
};

// Each returns its table and its length (each program links the sets it measures).
std::size_t WidthKernelsPlain(const WidthKernel** table);
std::size_t WidthKernelsBmi(const WidthKernel** table);
std::size_t WidthKernelsX86Proxy(const WidthKernel** table);
std::size_t WidthKernelsX86ProxyBmi(const WidthKernel** table);
std::size_t WidthKernelsAvx2(const WidthKernel** table);
std::size_t WidthKernelsAvx512(const WidthKernel** table);

}  // namespace corvane::bench
