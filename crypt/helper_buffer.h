// Owns one buffer made by the helper classes and gives it back with Sfree (which wipes
// it) on every way out of a scope.
#pragma once

#include <utility>

#include "dunlow.h"

namespace corvane {

class HelperBuffer {
 public:
  explicit HelperBuffer(CDunlow& owner) : owner_(owner) {}
  ~HelperBuffer() { owner_.Sfree(&p_); }
  HelperBuffer(const HelperBuffer&) = delete;
  HelperBuffer& operator=(const HelperBuffer&) = delete;

  unsigned char* Get() const { return p_; }
  const char* Text() const { return reinterpret_cast<const char*>(p_); }
  // For the helper operations that fill an unsigned char** out-parameter.
  unsigned char** Receive() {
    owner_.Sfree(&p_);
    return &p_;
  }
  unsigned char* Release() { return std::exchange(p_, nullptr); }

 private:
  CDunlow& owner_;
  unsigned char* p_ = nullptr;
};

}  // namespace corvane
