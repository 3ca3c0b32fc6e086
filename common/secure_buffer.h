// Standard containers whose memory is wiped before it goes back to the heap, for
// buffers that hold key text or plaintext. Every block is wiped when released, so a
// vector that grows leaves no copy of its old content behind.
#pragma once

#include <cstddef>
#include <new>
#include <vector>

#include "common/secure_wipe.h"

namespace corvane {

template <class T>
struct WipingAllocator {
  using value_type = T;

  WipingAllocator() noexcept = default;
  template <class U>
  WipingAllocator(const WipingAllocator<U>&) noexcept {}

  T* allocate(std::size_t n) {
    if (n > static_cast<std::size_t>(-1) / sizeof(T)) throw std::bad_alloc();
    return static_cast<T*>(::operator new(n * sizeof(T)));
  }
  void deallocate(T* p, std::size_t n) noexcept {
    SecureWipe(p, n * sizeof(T));
    ::operator delete(p);
  }

  template <class U>
  bool operator==(const WipingAllocator<U>&) const noexcept {
    return true;
  }
  template <class U>
  bool operator!=(const WipingAllocator<U>&) const noexcept {
    return false;
  }
};

// Bytes of key text or plaintext.
using SecureBytes = std::vector<unsigned char, WipingAllocator<unsigned char>>;

}  // namespace corvane
