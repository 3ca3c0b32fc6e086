// Records every block that held secrets as it is released (through the release
// observer seam), to prove that each was wiped first.
#pragma once

#include <algorithm>
#include <cstddef>
#include <vector>

#include "common/secure_wipe.h"

namespace corvane::test {

class ReleaseRecorder {
 public:
  struct Block {
    std::size_t size;
    bool zero;
  };

  ReleaseRecorder() {
    blocks().clear();
    g_releaseObserver.store(&Record);
  }
  ~ReleaseRecorder() { g_releaseObserver.store(nullptr); }
  ReleaseRecorder(const ReleaseRecorder&) = delete;
  ReleaseRecorder& operator=(const ReleaseRecorder&) = delete;

  const std::vector<Block>& Blocks() const { return blocks(); }
  bool AllZero() const {
    return std::all_of(blocks().begin(), blocks().end(), [](const Block& b) { return b.zero; });
  }
  // Blocks of at least `size` bytes seen so far.
  std::size_t CountAtLeast(std::size_t size) const {
    return static_cast<std::size_t>(
        std::count_if(blocks().begin(), blocks().end(), [size](const Block& b) { return b.size >= size; }));
  }
  void Clear() { blocks().clear(); }

 private:
  static std::vector<Block>& blocks() {
    static std::vector<Block> recorded;
    return recorded;
  }
  static void Record(const void* data, std::size_t size) {
    const unsigned char* p = static_cast<const unsigned char*>(data);
    blocks().push_back({size, std::all_of(p, p + size, [](unsigned char c) { return c == 0; })});
  }
};

}  // namespace corvane::test
