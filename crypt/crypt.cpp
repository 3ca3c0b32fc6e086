#include "crypt.h"

#include <cstring>

#include "common/com_holders.h"
#include "common/secure_wipe.h"
#include "dunlow.h"
#include "engine/blowfish_engine.h"
#include "file_cipher.h"
#include "helper_buffer.h"
#include "pemmet.h"
#include "status.h"
#include "string_cipher.h"

namespace corvane {
namespace {

// The key of one operation, copied from the key text when the operation starts and wiped
// when it ends. Converting an argument can run the client's code (the default value of
// an object), which may call SetKey on this same object and so replace or release the
// key text: the operation goes on with the key it started with. Only the bytes that the
// key schedule reads are copied; a key longer than that schedules as its first bytes.
class OperationKey {
 public:
  explicit OperationKey(const unsigned char* keyText) : length_(0) {
    if (keyText == nullptr) return;
    while (length_ < BlowfishEngine::kKeyBytesRead && keyText[length_] != 0) {
      bytes_[length_] = keyText[length_];
      ++length_;
    }
  }
  ~OperationKey() { SecureWipe(bytes_, sizeof bytes_); }
  OperationKey(const OperationKey&) = delete;
  OperationKey& operator=(const OperationKey&) = delete;

  const unsigned char* Bytes() const { return bytes_; }
  // 0 when there is no usable key: none held, or an empty key text.
  std::int32_t Length() const { return length_; }

 private:
  unsigned char bytes_[BlowfishEngine::kKeyBytesRead] = {};
  std::int32_t length_;
};

}  // namespace

Crypt::Crypt()
    : m_dwRef(0), m_nStatus(STATUS_OK), m_pszKey(nullptr), m_szExt{}, m_nHeaderSize(kLengthHeaderSize) {
  static_assert(sizeof m_szExt == sizeof kEncryptedFileSuffix, "the suffix and its terminator fill m_szExt");
  std::memcpy(m_szExt, kEncryptedFileSuffix, sizeof m_szExt);
}

Crypt::~Crypt() {
  CDunlow dunlow;
  dunlow.Sfree(&m_pszKey);  // wipes the whole buffer, not only the text before its NUL
}

// Every method that converts an argument holds a reference on its own object first:
// converting runs the client's code (an object's default value), which may release the
// client's last reference, and the object must go when the method is done with it, not
// under it.
STDMETHODIMP Crypt::SetKey(VARIANT vin) {
  const auto held = ComPtr<ICrypt>::Share(this);
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

bool Crypt::BeginKeyedOperation(std::int32_t keyLength) {
  m_nStatus = keyLength == 0 ? STATUS_NO_KEY : STATUS_BUSY;
  return keyLength != 0;
}

void Crypt::Finish(std::int32_t status) { m_nStatus = status < 0 ? status : STATUS_OK; }

// vout is written only by the last step, and only when it succeeds. A null vout is a
// caller's programming error, answered like IsError's: E_POINTER, nothing done.
STDMETHODIMP Crypt::enCrypt(VARIANT vin, VARIANT* vout) {
  if (vout == nullptr) return E_POINTER;
  const auto held = ComPtr<ICrypt>::Share(this);
  const OperationKey key(m_pszKey);
  if (!BeginKeyedOperation(key.Length())) return S_OK;
  CPemmet pemmet;
  HelperBuffer plaintext(pemmet), base64Text(pemmet);
  const std::int32_t r = pemmet.SVariant2char(vin, plaintext.Receive());
  std::int32_t status = r;
  if (status >= 0)
    status = EncryptToBase64(pemmet, plaintext.Get(), static_cast<std::uint32_t>(r), key.Bytes(), key.Length(),
                             base64Text.Receive());
  if (status >= 0) status = pemmet.SChar2Variant(base64Text.Get(), vout);
  Finish(status);
  return S_OK;
}

STDMETHODIMP Crypt::deCrypt(VARIANT vin, VARIANT* vout) {
  if (vout == nullptr) return E_POINTER;
  const auto held = ComPtr<ICrypt>::Share(this);
  const OperationKey key(m_pszKey);
  if (!BeginKeyedOperation(key.Length())) return S_OK;
  CPemmet pemmet;
  HelperBuffer text(pemmet);
  // The Base64 text goes straight into the Base64 object's input buffer.
  const std::int32_t r = pemmet.SVariant2char(vin, pemmet.GetMyMemInPP());
  std::int32_t status = r;
  if (status >= 0)
    status = DecryptFromBase64(pemmet, static_cast<std::uint32_t>(r), key.Bytes(), key.Length(), text.Receive());
  if (status >= 0) status = pemmet.SChar2Variant(text.Get(), vout);
  Finish(status);
  return S_OK;
}

STDMETHODIMP Crypt::FileEnCrypt(VARIANT vin) { return TransformFile(vin, EncryptFileBeside); }

STDMETHODIMP Crypt::FileDeCrypt(VARIANT vin) { return TransformFile(vin, DecryptFileBeside); }

HRESULT Crypt::TransformFile(VARIANT vin, FileOperation operation) {
  const auto held = ComPtr<ICrypt>::Share(this);
  const OperationKey key(m_pszKey);
  if (!BeginKeyedOperation(key.Length())) return S_OK;
  CDunlow dunlow;
  HelperBuffer inputPath(dunlow);
  std::int32_t status = dunlow.SVariant2char(vin, inputPath.Receive());
  if (status >= 0)
    status = operation(dunlow, inputPath.Text(), m_szExt, static_cast<std::uint32_t>(m_nHeaderSize), key.Bytes(),
                       key.Length());
  Finish(status);
  return S_OK;
}

}  // namespace corvane
