// A console demonstration of the Crypt object through its vtable: status numbers, a
// string round trip and a file round trip.
#include <windows.h>

#include <cstdio>
#include <string>

#include "common/com_holders.h"
#include "crypt/standalone_crypt.h"

namespace {

using corvane::UniqueVariant;

LONG StatusOf(ICrypt* crypt) {
  LONG status = 0;
  crypt->IsError(&status);
  return status;
}

VARIANT Text(const wchar_t* text) {
  VARIANT v;
  VariantInit(&v);
  V_VT(&v) = VT_BSTR;
  V_BSTR(&v) = SysAllocString(text);
  return v;
}

std::wstring TempFile(const wchar_t* name) {
  wchar_t folder[MAX_PATH];
  GetTempPathW(MAX_PATH, folder);
  return std::wstring(folder) + name;
}

void WriteText(const std::wstring& path, const char* text) {
  const HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD written = 0;
  WriteFile(h, text, static_cast<DWORD>(strlen(text)), &written, nullptr);
  CloseHandle(h);
}

std::string ReadText(const std::wstring& path) {
  const HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return "<missing>";
  char buffer[4096];
  DWORD read = 0;
  ReadFile(h, buffer, sizeof buffer, &read, nullptr);
  CloseHandle(h);
  return std::string(buffer, read);
}

}  // namespace

int main() {
  corvane::ComPtr<corvane::StandaloneCrypt> crypt(corvane::StandaloneCrypt::Create());
  if (!crypt) return 1;
  std::printf("new object                 IsError = %ld\n", StatusOf(crypt.Get()));

  UniqueVariant plaintext, ciphertext, decrypted;
  crypt->enCrypt(*plaintext.Receive() = Text(L"no key yet"), ciphertext.Receive());
  std::printf("enCrypt without a key      IsError = %ld\n", StatusOf(crypt.Get()));

  UniqueVariant key;
  crypt->SetKey(*key.Receive() = Text(L"TESTKEY"));
  std::printf("SetKey(\"TESTKEY\")          IsError = %ld\n", StatusOf(crypt.Get()));

  crypt->enCrypt(*plaintext.Receive() = Text(L"sixteen bytes!!!"), ciphertext.Receive());
  std::printf("enCrypt(\"sixteen bytes!!!\") = %ls   IsError = %ld\n", V_BSTR(ciphertext.Get()), StatusOf(crypt.Get()));
  crypt->deCrypt(*ciphertext.Get(), decrypted.Receive());
  std::printf("deCrypt(that)              = %ls   IsError = %ld\n", V_BSTR(decrypted.Get()), StatusOf(crypt.Get()));

  const std::wstring file = TempFile(L"corvane-demo.txt");
  WriteText(file, "A file's contents, encrypted and decrypted again.");
  UniqueVariant path;
  crypt->FileEnCrypt(*path.Receive() = Text(file.c_str()));
  std::printf("\nFileEnCrypt(%ls)   IsError = %ld\n", file.c_str(), StatusOf(crypt.Get()));
  crypt->FileDeCrypt(*path.Receive() = Text((file + L".bf").c_str()));
  std::printf("FileDeCrypt(%ls.bf)   IsError = %ld\n", file.c_str(), StatusOf(crypt.Get()));
  const std::string original = ReadText(file), roundTrip = ReadText(file + L".bf.bf");
  std::printf("%ls.bf.bf holds: %s\n", file.c_str(), roundTrip.c_str());

  crypt->FileDeCrypt(*path.Receive() = Text((file + L".missing").c_str()));
  std::printf("FileDeCrypt(a missing file) IsError = %ld\n", StatusOf(crypt.Get()));

  for (const wchar_t* suffix : {L"", L".bf", L".bf.bf"}) DeleteFileW((file + suffix).c_str());
  return original == roundTrip ? 0 : 1;
}
