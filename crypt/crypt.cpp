#include "crypt.h"

#include <cstring>

#include "dunlow.h"
#include "status.h"

namespace corvane {

Crypt::Crypt() : m_dwRef(0), m_nStatus(STATUS_OK), m_pszKey(nullptr), m_szExt{'.', 'b', 'f', '\0'}, m_nHeaderSize(4) {}

Crypt::~Crypt() {
  CDunlow dunlow;
  dunlow.Sfree(&m_pszKey);  // wipes the whole buffer, not only the text before its NUL
}

std::int32_t Crypt::KeyLength() const {
  if (m_pszKey == nullptr) return 0;
  return static_cast<std::int32_t>(std::strlen(reinterpret_cast<const char*>(m_pszKey)));
}

STDMETHODIMP Crypt::SetKey(VARIANT vin) {
  m_nStatus = STATUS_BUSY;
  CDunlow dunlow;
  unsigned char* key = nullptr;
  const std::int32_t converted = dunlow.SVariant2char(vin, &key);
  // The old key goes in either case: a failed SetKey leaves the object without a key.
  dunlow.Sfree(&m_pszKey);
  if (converted < 0) {
    m_nStatus = STATUS_NO_KEY;
    return S_OK;
  }
  m_pszKey = key;
  m_nStatus = STATUS_OK;
  return S_OK;
}

STDMETHODIMP Crypt::IsError(LONG* sout) {
  if (sout == nullptr) return E_POINTER;
  *sout = m_nStatus;
  return S_OK;
}

STDMETHODIMP Crypt::enCrypt(VARIANT, VARIANT*) { return E_NOTIMPL; }
STDMETHODIMP Crypt::deCrypt(VARIANT, VARIANT*) { return E_NOTIMPL; }
STDMETHODIMP Crypt::FileEnCrypt(VARIANT) { return E_NOTIMPL; }
STDMETHODIMP Crypt::FileDeCrypt(VARIANT) { return E_NOTIMPL; }

}  // namespace corvane
