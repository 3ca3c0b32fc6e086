// CPemmet: Base64 over an input and an output buffer that the object owns.
#pragma once

#include <cstdint>

#include "dunlow.h"

namespace corvane {

class CPemmet : public CDunlow {
 public:
  enum Mode { kEncode = 0, kDecode = 1 };

  CPemmet() = default;
  ~CPemmet() override;

  // Where callers put the input buffer (made by Smalloc or SVariant2char); the object
  // releases it.
  unsigned char** GetMyMemInPP() { return &m_pMemIn; }
  unsigned char* GetMyMemInP() { return m_pMemIn; }
  unsigned char* GetMyMemOutP() { return m_pMemOut; }

  // Mode 0 encodes n input bytes, mode 1 decodes n input characters; the result goes
  // to a new output buffer (NUL-terminated) and its length is returned. flag is
  // reserved and must be 0. Fails with STATUS_BAD_BASE64 on malformed text or a
  // malformed request, STATUS_OUT_OF_MEMORY when the result does not fit.
  std::int32_t SInBase64Main(int mode, std::uint32_t n, int flag);

 private:
  unsigned char* m_pMemIn = nullptr;
  unsigned char* m_pMemOut = nullptr;
};

}  // namespace corvane
