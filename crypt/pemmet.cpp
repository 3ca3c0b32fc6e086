#include "pemmet.h"

#include "base64.h"
#include "status.h"

namespace corvane {

CPemmet::~CPemmet() {
  Sfree(&m_pMemIn);
  Sfree(&m_pMemOut);
}

std::int32_t CPemmet::SInBase64Main(int mode, std::uint32_t n, int flag) {
  if ((mode != kEncode && mode != kDecode) || flag != 0 || (m_pMemIn == nullptr && n != 0))
    return STATUS_BAD_BASE64;
  Sfree(&m_pMemOut);

  if (mode == kEncode) {
    const std::uint64_t length = base64::EncodedLength(n);
    if (length > 0x7FFFFFFE) return STATUS_OUT_OF_MEMORY;
    unsigned char* out = nullptr;
    const std::int32_t allocated = Smalloc(&out, static_cast<std::uint32_t>(length) + 1);
    if (allocated < 0) return allocated;
    base64::Encode(m_pMemIn, n, reinterpret_cast<char*>(out));
    out[length] = 0;
    m_pMemOut = out;
    return static_cast<std::int32_t>(length);
  }

  unsigned char* out = nullptr;
  const std::int32_t allocated = Smalloc(&out, static_cast<std::uint32_t>(base64::MaxDecodedLength(n)) + 1);
  if (allocated < 0) return allocated;
  std::size_t decoded = 0;
  if (!base64::Decode(reinterpret_cast<const char*>(m_pMemIn), n, out, &decoded)) {
    Sfree(&out);
    return STATUS_BAD_BASE64;
  }
  out[decoded] = 0;
  m_pMemOut = out;
  return static_cast<std::int32_t>(decoded);
}

}  // namespace corvane
