// Owns one buffer made by the helper classes and gives it back on every way out of a
// scope: with Sfree (which wipes it), or without the wipe for a buffer declared to hold
// ciphertext only.
#pragma once

#include <utility>

#include "dunlow.h"

namespace corvane {

class HelperBuffer {
 public:
  enum class Holds { Secrets, CiphertextOnly };

  explicit HelperBuffer(CDunlow& owner, Holds holds = Holds::Secrets) : owner_(owner), holds_(holds) {}
  ~HelperBuffer() { Free(); }
  HelperBuffer(const HelperBuffer&) = delete;
  HelperBuffer& operator=(const HelperBuffer&) = delete;

  unsigned char* Get() const { return p_; }
  const char* Text() const { return reinterpret_cast<const char*>(p_); }
  // For the helper operations that fill an unsigned char** out-parameter.
  unsigned char** Receive() {
    Free();
    return &p_;
  }
  unsigned char* Release() { return std::exchange(p_, nullptr); }

 private:
  void Free() {
    if (holds_ == Holds::CiphertextOnly) {
      owner_.SfreeUnwiped(&p_);
    } else {
      owner_.Sfree(&p_);
    }
  }

  CDunlow& owner_;
  Holds holds_;
  unsigned char* p_ = nullptr;
};

}  // namespace corvane
