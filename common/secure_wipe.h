// Overwrites memory that held secrets in a way the optimiser cannot drop.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstring>

namespace corvane {

// Test seam: when set, sees every block that held secrets after its wipe and just
// before its memory is released, so tests can prove the bytes are zero. Never set in
// production code.
using ReleaseObserver = void (*)(const void* data, std::size_t size);
inline std::atomic<ReleaseObserver> g_releaseObserver{nullptr};

inline void ObserveRelease(const void* data, std::size_t size) noexcept {
  if (ReleaseObserver observer = g_releaseObserver.load(std::memory_order_relaxed)) observer(data, size);
}

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

// Wipes a block whose memory is about to be released.
inline void WipeBeforeRelease(void* data, std::size_t size) noexcept {
  SecureWipe(data, size);
  if (data != nullptr) ObserveRelease(data, size);
}

}  // namespace corvane
