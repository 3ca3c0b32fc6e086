// Overwrites memory that held secrets in a way the optimiser cannot drop.
#pragma once

#include <cstddef>
#include <cstring>

namespace corvane {

inline void SecureWipe(void* data, std::size_t size) noexcept {
  if (data == nullptr || size == 0) return;
#if defined(__GNUC__) || defined(__clang__)
  std::memset(data, 0, size);
  // The compiler must assume the asm reads the memory, so the stores stay.
  __asm__ __volatile__("" : : "r"(data) : "memory");
#else
  volatile unsigned char* p = static_cast<volatile unsigned char*>(data);
  while (size--) *p++ = 0;
#endif
}

}  // namespace corvane
