// The interleave-width sweep: the engine's kernels instantiated at many widths, compiled
// several times (bench/CMakeLists.txt): plain, with BMI1, and as "x86 proxies" that may
// use only the 7 general registers 32-bit x86 code has (rax, rbx, rcx, rdx, rsi, rdi,
// rbp; r8 to r15 reserved with -ffixed-*), which is how the x86 width is measured on a
// machine that cannot run 32-bit code.
#pragma once

#include <cstddef>
#include <cstdint>

namespace corvane::bench {

struct WidthArgs {
  const std::uint32_t* P;
  const std::uint32_t* S;
  const unsigned char* in;
  unsigned char* out;
  std::size_t blocks;
};

struct WidthKernel {
  const char* layout;   // "packed" or "split"
  int width;
  const char* variant;  // "x64", "x64 bmi1", "x86 proxy", "x86 proxy bmi1"
  void (*encipher)(const WidthArgs*);
};

// Each returns its table and its length.
std::size_t WidthKernelsPlain(const WidthKernel** table);
std::size_t WidthKernelsBmi(const WidthKernel** table);
std::size_t WidthKernelsX86Proxy(const WidthKernel** table);
std::size_t WidthKernelsX86ProxyBmi(const WidthKernel** table);

}  // namespace corvane::bench
