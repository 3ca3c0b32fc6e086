// The heap behind the helper classes' buffers. Each block records its own size, so a
// buffer is wiped whole when it is released: buffers hold key text and plaintext.
#pragma once

#include <cstddef>

namespace corvane {

// n usable bytes (n may be 0); null when memory is exhausted.
unsigned char* HelperAllocate(std::size_t n);
// Wipes and frees a block from HelperAllocate; null is ignored.
void HelperFree(unsigned char* p);
// Frees without wiping, for blocks that never held plaintext or key text (ciphertext
// of a file): wiping them would only cost a pass over the memory.
void HelperFreeUnwiped(unsigned char* p);

}  // namespace corvane
