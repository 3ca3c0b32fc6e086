// Crypt: Blowfish encryption of strings and files behind ICrypt. The six methods
// never fail: each returns S_OK and leaves a status number that IsError reports.
// IUnknown and IDispatch are supplied by the class that makes Crypt a COM object.
#pragma once

#include <windows.h>

#include <cstdint>

#include "corvane.h"  // ICrypt, generated from server/corvane.idl
#include "dunlow.h"

namespace corvane {

class Crypt : public ICrypt {
 public:
  STDMETHOD(SetKey)(VARIANT vin) override;
  STDMETHOD(IsError)(LONG* sout) override;
  STDMETHOD(enCrypt)(VARIANT vin, VARIANT* vout) override;
  STDMETHOD(deCrypt)(VARIANT vin, VARIANT* vout) override;
  STDMETHOD(FileEnCrypt)(VARIANT vin) override;
  STDMETHOD(FileDeCrypt)(VARIANT vin) override;

 protected:
  Crypt();
  // Wipes and releases the key text. Not virtual: only the concrete COM classes,
  // which are final, destroy a Crypt.
  ~Crypt();
  Crypt(const Crypt&) = delete;
  Crypt& operator=(const Crypt&) = delete;

  // A plain object counts its own references; the inner part of an aggregate keeps
  // its controlling unknown in the same place instead.
  union {
    LONG m_dwRef;
    IUnknown* m_pOuterUnknown;
  };
  LONG m_nStatus;
  unsigned char* m_pszKey;  // NUL-terminated key text, or null while no key is held
  char m_szExt[4];          // suffix of the output file name
  LONG m_nHeaderSize;       // size of an encrypted file's length header

 private:
  using FileOperation = std::int32_t (*)(CDunlow& dunlow, const char* inputPath, const char* suffix,
                                         std::uint32_t headerSize, const unsigned char* key, std::int32_t keyLength);

  // Marks the object busy, or leaves STATUS_NO_KEY and returns false when the operation's
  // key is empty (none held, or an empty key text).
  bool BeginKeyedOperation(std::int32_t keyLength);
  // The operation's outcome becomes the status number.
  void Finish(std::int32_t status);
  HRESULT TransformFile(VARIANT vin, FileOperation operation);
};

}  // namespace corvane
