// enCrypt, deCrypt, FileEnCrypt and FileDeCrypt through the Crypt object's vtable.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "crypt/standalone_crypt.h"
#include "crypt/status.h"
#include "tests/support/crypt_vectors.h"
#include "tests/support/file_links.h"
#include "tests/support/temp_dir.h"
#include "tests/support/variants.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;
using test::BstrVariant;
using test::Bytes;
using test::ReadFileBytes;
using test::TempDir;
using test::WriteFileBytes;

constexpr LONG kUntouched = 0x5EED;

// The bytes as text of the process's ANSI code page; false where they are not text in it.
bool Widen(const Bytes& bytes, std::wstring* text) {
  if (bytes.empty()) {
    text->clear();
    return true;
  }
  const char* p = reinterpret_cast<const char*>(bytes.data());
  const int n = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, p, static_cast<int>(bytes.size()), nullptr, 0);
  if (n <= 0) return false;
  text->resize(static_cast<std::size_t>(n));
  MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, p, static_cast<int>(bytes.size()), text->data(), n);
  return true;
}

class CryptOperations : public ::testing::Test {
 protected:
  void SetUp() override { crypt_ = StandaloneCrypt::Create(); }
  void TearDown() override { EXPECT_EQ(crypt_->Release(), 0u); }

  LONG Status() {
    LONG status = 0;
    crypt_->IsError(&status);
    return status;
  }
  void Key(const std::wstring& key) {
    BstrVariant v(key);
    ASSERT_EQ(crypt_->SetKey(*v), S_OK);
    ASSERT_EQ(Status(), STATUS_OK);
  }

  // The string result, or "<untouched>" when vout kept what the caller passed.
  std::wstring Call(HRESULT (STDMETHODCALLTYPE ICrypt::*method)(VARIANT, VARIANT*), VARIANT in) {
    VARIANT out = test::MakeI4(kUntouched);
    EXPECT_EQ((crypt_->*method)(in, &out), S_OK);
    if (V_VT(&out) == VT_I4 && V_I4(&out) == kUntouched) return L"<untouched>";
    EXPECT_EQ(V_VT(&out), VT_BSTR);
    std::wstring result = test::FromBstr(V_BSTR(&out));
    VariantClear(&out);
    return result;
  }
  std::wstring Encrypt(const std::wstring& text) {
    BstrVariant in(text);
    return Call(&ICrypt::enCrypt, *in);
  }
  std::wstring Decrypt(const std::wstring& text) {
    BstrVariant in(text);
    return Call(&ICrypt::deCrypt, *in);
  }
  LONG FileEncrypt(const fs::path& path) {
    BstrVariant in(path.wstring());
    EXPECT_EQ(crypt_->FileEnCrypt(*in), S_OK);
    return Status();
  }
  LONG FileDecrypt(const fs::path& path) {
    BstrVariant in(path.wstring());
    EXPECT_EQ(crypt_->FileDeCrypt(*in), S_OK);
    return Status();
  }

  StandaloneCrypt* crypt_ = nullptr;
};

TEST_F(CryptOperations, WithoutAKeyNothingHappens) {
  TempDir dir;
  WriteFileBytes(dir.Path() / "a.txt", {1, 2, 3});
  for (int pass = 0; pass < 2; ++pass) {
    SCOPED_TRACE(pass == 0 ? "no SetKey" : "empty key");
    EXPECT_EQ(Encrypt(L"text"), L"<untouched>");
    EXPECT_EQ(Status(), STATUS_NO_KEY);
    EXPECT_EQ(Decrypt(L"AAAAAAAAAAA="), L"<untouched>");
    EXPECT_EQ(Status(), STATUS_NO_KEY);
    EXPECT_EQ(FileEncrypt(dir.Path() / "a.txt"), STATUS_NO_KEY);
    EXPECT_EQ(FileDecrypt(dir.Path() / "a.txt"), STATUS_NO_KEY);
    EXPECT_EQ(dir.Names(), std::vector<std::string>{"a.txt"});
    Key(L"");
  }
}

TEST_F(CryptOperations, StringsMatchTheBufferVectors) {
  int checked = 0;
  for (const auto& v : test::BlowfishBufferVectors()) {
    std::wstring plaintext;
    if (!Widen(v.plaintext, &plaintext) || plaintext.find(L'\0') != std::wstring::npos) continue;
    SCOPED_TRACE(v.key + " / " + test::ToHex(v.plaintext));
    Key(std::wstring(v.key.begin(), v.key.end()));
    const std::string base64 = test::Base64(v.ciphertext);
    EXPECT_EQ(Encrypt(plaintext), std::wstring(base64.begin(), base64.end()));
    EXPECT_EQ(Decrypt(std::wstring(base64.begin(), base64.end())), plaintext);
    EXPECT_EQ(Status(), STATUS_OK);
    ++checked;
  }
  EXPECT_GE(checked, 8);
}

TEST_F(CryptOperations, FilesMatchTheBufferVectors) {
  TempDir dir;
  for (const auto& v : test::BlowfishBufferVectors()) {
    SCOPED_TRACE(v.key + " / " + test::ToHex(v.plaintext));
    Key(std::wstring(v.key.begin(), v.key.end()));
    const Bytes encrypted = test::EncryptedFile(static_cast<std::uint32_t>(v.plaintext.size()), v.ciphertext);
    WriteFileBytes(dir.Path() / "plain", v.plaintext);
    ASSERT_EQ(FileEncrypt(dir.Path() / "plain"), STATUS_OK);
    EXPECT_EQ(test::ToHex(ReadFileBytes(dir.Path() / "plain.bf")), test::ToHex(encrypted));
    WriteFileBytes(dir.Path() / "cipher", encrypted);
    ASSERT_EQ(FileDecrypt(dir.Path() / "cipher"), STATUS_OK);
    EXPECT_EQ(test::ToHex(ReadFileBytes(dir.Path() / "cipher.bf")), test::ToHex(v.plaintext));
  }
}

TEST_F(CryptOperations, StringsRoundTrip) {
  Key(L"round trip key");
  const std::wstring texts[] = {L"", L"a", L"exactly8", L"nine char", L"\u00E9t\u00E9 \u20AC 100", std::wstring(100000, L'x')};
  for (const auto& text : texts) {
    const std::wstring cipher = Encrypt(text);
    const std::size_t padded = (text.size() + 7) / 8 * 8;
    EXPECT_EQ(cipher.size(), (padded + 2) / 3 * 4);
    EXPECT_EQ(Decrypt(cipher), text);
    EXPECT_EQ(Status(), STATUS_OK);
  }
  EXPECT_EQ(Encrypt(L"12345678").size(), 12u);
  EXPECT_EQ(Encrypt(L"123456789").size(), 24u);
  EXPECT_EQ(Call(&ICrypt::enCrypt, test::MakeI4(123)), Encrypt(L"123"));
}

TEST_F(CryptOperations, TextEndsAtAZeroCharacter) {
  Key(L"k");
  EXPECT_EQ(Decrypt(Encrypt(std::wstring(L"ab\0cd", 5))), L"ab");
}

TEST_F(CryptOperations, FailuresLeaveVoutAsItWas) {
  Key(L"k");
  EXPECT_EQ(Decrypt(L"not base64!"), L"<untouched>");
  EXPECT_EQ(Status(), STATUS_BAD_BASE64);
  EXPECT_EQ(Call(&ICrypt::enCrypt, test::MakeNull()), L"<untouched>");
  EXPECT_EQ(Status(), STATUS_NO_TEXT_FORM);
  EXPECT_EQ(Call(&ICrypt::deCrypt, test::MakeNull()), L"<untouched>");
  EXPECT_EQ(Status(), STATUS_NO_TEXT_FORM);
  EXPECT_EQ(Encrypt(L"\u0101"), L"<untouched>");
  EXPECT_EQ(Status(), STATUS_NOT_IN_CODE_PAGE);
  EXPECT_EQ(Decrypt(Encrypt(L"fine")), L"fine");
  EXPECT_EQ(Status(), STATUS_OK);
}

TEST_F(CryptOperations, ANullVoutIsRefused) {
  Key(L"k");
  BstrVariant in(L"x");
  EXPECT_EQ(crypt_->enCrypt(*in, nullptr), E_POINTER);
  EXPECT_EQ(crypt_->deCrypt(*in, nullptr), E_POINTER);
  EXPECT_EQ(Status(), STATUS_OK);
}

TEST_F(CryptOperations, FilesRoundTripAlongThePathRule) {
  TempDir dir;
  Key(L"file key");
  const Bytes content = {'d', 'a', 't', 'a', 0, 1, 2, 3, 4};
  WriteFileBytes(dir.Path() / "a.txt", content);
  ASSERT_EQ(FileEncrypt(dir.Path() / "a.txt"), STATUS_OK);
  EXPECT_EQ(fs::file_size(dir.Path() / "a.txt.bf"), 20u);
  ASSERT_EQ(FileDecrypt(dir.Path() / "a.txt.bf"), STATUS_OK);
  EXPECT_EQ(ReadFileBytes(dir.Path() / "a.txt.bf.bf"), content);
}

TEST_F(CryptOperations, FileFailuresWriteNothingAndLeaveTheObjectUsable) {
  TempDir dir;
  Key(L"k");
  const fs::path d = dir.Path();
  fs::create_directory(d / "folder");
  WriteFileBytes(d / "tiny.bf", {1, 0});
  WriteFileBytes(d / "huge.bf", test::EncryptedFile(0x80000000u, Bytes(8, 1)));
  WriteFileBytes(d / "max.bf", test::EncryptedFile(0xFFFFFFFFu, Bytes(16, 1)));
  WriteFileBytes(d / "good", {1, 2, 3});

  const std::pair<fs::path, LONG> decryptCases[] = {{d / "missing.bf", STATUS_CANNOT_OPEN_INPUT},
                                                    {d / "folder", STATUS_CANNOT_OPEN_INPUT},
                                                    {d / "tiny.bf", STATUS_SHORT_FILE},
                                                    {d / "huge.bf", STATUS_SHORT_FILE},
                                                    {d / "max.bf", STATUS_SHORT_FILE}};
  for (const auto& [path, status] : decryptCases) {
    SCOPED_TRACE(path.string());
    EXPECT_EQ(FileDecrypt(path), status);
    EXPECT_FALSE(fs::exists(path.wstring() + L".bf"));
    EXPECT_EQ(FileEncrypt(d / "good"), STATUS_OK);
  }
  EXPECT_EQ(FileEncrypt(d / "missing"), STATUS_CANNOT_OPEN_INPUT);
  EXPECT_EQ(FileEncrypt(d / "folder"), STATUS_CANNOT_OPEN_INPUT);
  VARIANT nothing = test::MakeNull();
  EXPECT_EQ(crypt_->FileEnCrypt(nothing), S_OK);
  EXPECT_EQ(Status(), STATUS_NO_TEXT_FORM);
  EXPECT_FALSE(fs::exists(d / "folder.bf"));
}

TEST_F(CryptOperations, AnOutputHeldOpenByAnotherProgramSurvives) {
  TempDir dir;
  Key(L"k");
  WriteFileBytes(dir.Path() / "in", {1, 2, 3});
  WriteFileBytes(dir.Path() / "in.bf", {'o', 'l', 'd'});
  const HANDLE locked = CreateFileW((dir.Path() / "in.bf").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(locked, INVALID_HANDLE_VALUE);
  EXPECT_EQ(FileEncrypt(dir.Path() / "in"), STATUS_CANNOT_WRITE_OUTPUT);
  CloseHandle(locked);
  EXPECT_EQ(ReadFileBytes(dir.Path() / "in.bf"), (Bytes{'o', 'l', 'd'}));
  auto names = dir.Names();
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"in", "in.bf"}));
  EXPECT_EQ(FileEncrypt(dir.Path() / "in"), STATUS_OK);
  EXPECT_EQ(fs::file_size(dir.Path() / "in.bf"), 12u);
}

// A log file that a service keeps open for writing (sharing it for reading) can be
// encrypted; a file held without any sharing still cannot.
TEST_F(CryptOperations, AnInputThatAnotherProgramWritesCanBeRead) {
  TempDir dir;
  Key(L"k");
  const fs::path log = dir.Path() / "service.log";
  const HANDLE writer = CreateFileW(log.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(writer, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(writer, "line 1\n", 7, &written, nullptr));
  EXPECT_EQ(FileEncrypt(log), STATUS_OK);
  EXPECT_EQ(fs::file_size(log.wstring() + L".bf"), 12u);
  ASSERT_TRUE(WriteFile(writer, "line 2\n", 7, &written, nullptr));
  EXPECT_EQ(FileEncrypt(log), STATUS_OK) << "again, the writer still writing";
  EXPECT_EQ(fs::file_size(log.wstring() + L".bf"), 20u);
  CloseHandle(writer);
  ASSERT_EQ(FileDecrypt(log.wstring() + L".bf"), STATUS_OK);
  EXPECT_EQ(ReadFileBytes(log.wstring() + L".bf.bf"), ReadFileBytes(log));

  const HANDLE exclusive = CreateFileW(log.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(exclusive, INVALID_HANDLE_VALUE);
  EXPECT_EQ(FileEncrypt(log), STATUS_CANNOT_OPEN_INPUT);
  CloseHandle(exclusive);
}

// The replacement works on the full path, whatever form the caller gave: a relative
// path replaces an existing output like an absolute one.
TEST_F(CryptOperations, ARelativePathReplacesAnExistingOutput) {
  TempDir dir;
  Key(L"k");
  WriteFileBytes(dir.Path() / "in", {1, 2, 3});
  WriteFileBytes(dir.Path() / "in.bf", {'o', 'l', 'd'});
  wchar_t previous[MAX_PATH];
  GetCurrentDirectoryW(MAX_PATH, previous);
  ASSERT_TRUE(SetCurrentDirectoryW(dir.Path().c_str()));
  const LONG status = FileEncrypt(L"in");
  const LONG again = FileEncrypt(L".\\in");
  SetCurrentDirectoryW(previous);
  EXPECT_EQ(status, STATUS_OK);
  EXPECT_EQ(again, STATUS_OK);
  EXPECT_EQ(fs::file_size(dir.Path() / "in.bf"), 12u);
  EXPECT_EQ(dir.Names().size(), 2u);
}

TEST_F(CryptOperations, AReadOnlyOutputSurvives) {
  TempDir dir;
  Key(L"k");
  WriteFileBytes(dir.Path() / "in", {1, 2, 3});
  WriteFileBytes(dir.Path() / "in.bf", {'o', 'l', 'd'});
  ASSERT_TRUE(SetFileAttributesW((dir.Path() / "in.bf").c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(FileEncrypt(dir.Path() / "in"), STATUS_CANNOT_WRITE_OUTPUT);
  EXPECT_EQ(ReadFileBytes(dir.Path() / "in.bf"), (Bytes{'o', 'l', 'd'}));
  SetFileAttributesW((dir.Path() / "in.bf").c_str(), FILE_ATTRIBUTE_NORMAL);
  EXPECT_EQ(dir.Names().size(), 2u);
}

// A link at the output path never costs the file it leads to. Where the system shows the
// link (Windows), it is left alone with -106; where it cannot (Wine shows a Unix link as
// a plain file), the link itself is replaced by the output and its target stays as it was.
// An output that is the input itself, by a symbolic or a hard link, is refused with -106.
// Wine's ReplaceFileW deleted the link's target in every case, the input among them.
TEST_F(CryptOperations, ALinkAtTheOutputPathNeverCostsItsTarget) {
  struct Case {
    const char* what;
    bool hard;
    const wchar_t* target;  // relative to the folder
    bool decrypt;           // FileDeCrypt of in.bf (output in.bf.bf), else FileEnCrypt of in (in.bf)
  };
  const Case cases[] = {
      {"a symbolic link to another file", false, L"victim.txt", false},
      {"a symbolic link to a file in another folder", false, L"other\\v2.txt", false},
      {"a symbolic link to the input", false, L"in", false},
      {"a hard link to the input", true, L"in", false},
      {"FileDeCrypt: a symbolic link to the input", false, L"in.bf", true},
      {"FileDeCrypt: a hard link to the input", true, L"in.bf", true},
  };
  Key(L"k");
  const Bytes input = {1, 2, 3}, encryptedInput = {3, 0, 0, 0, 9, 9, 9, 9, 9, 9, 9, 9};
  const Bytes victim = {'v', 'i', 'c', 't', 'i', 'm'};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    const fs::path d = dir.Path();
    fs::create_directory(d / "other");
    WriteFileBytes(d / "in", input);
    WriteFileBytes(d / "in.bf", encryptedInput);
    WriteFileBytes(d / "victim.txt", victim);
    WriteFileBytes(d / "other" / "v2.txt", victim);
    const fs::path in = c.decrypt ? d / "in.bf" : d / "in";
    const fs::path out = in.wstring() + L".bf";
    fs::remove(out);
    const bool made = c.hard ? test::MakeHardLink(d, out.filename().wstring(), c.target)
                             : test::MakeSymbolicLink(d, out.filename().wstring(), c.target);
    if (!made) GTEST_SKIP() << "this account cannot make links here";
    const Bytes targetBefore = ReadFileBytes(d / c.target);
    const bool linkToInput = std::wstring(c.target) == in.filename().wstring();

    const LONG status = c.decrypt ? FileDecrypt(in) : FileEncrypt(in);
    EXPECT_EQ(ReadFileBytes(d / c.target), targetBefore) << "the link's target is changed";
    EXPECT_EQ(ReadFileBytes(d / "in"), input) << "the input is changed";
    if (linkToInput || c.hard || test::ShownAsLink(out)) {
      EXPECT_EQ(status, STATUS_CANNOT_WRITE_OUTPUT);
      EXPECT_EQ(ReadFileBytes(out), targetBefore) << "the link is left as it was";
    } else {
      EXPECT_EQ(status, STATUS_OK);
      EXPECT_EQ(fs::file_size(out), 12u) << "the link itself is replaced by the output";
    }
    auto names = dir.Names();
    std::sort(names.begin(), names.end());
    std::vector<std::string> expected = {"in", "in.bf", "other", "victim.txt"};
    if (c.decrypt) expected.insert(expected.begin() + 2, "in.bf.bf");
    EXPECT_EQ(names, expected) << "nothing but the output path's own entry changes";
    // The link goes first: the runtime's remove_all does not come back from a folder that
    // holds a Unix link under Wine.
    DeleteFileW(out.c_str());
  }
}

TEST_F(CryptOperations, APathWithAZeroCharacterEndsThere) {
  TempDir dir;
  Key(L"k");
  WriteFileBytes(dir.Path() / "a.txt", {1, 2, 3});
  BstrVariant in((dir.Path() / "a.txt").wstring() + std::wstring(L"\0.bf", 4));
  EXPECT_EQ(crypt_->FileEnCrypt(*in), S_OK);
  EXPECT_EQ(Status(), STATUS_OK);
  EXPECT_EQ(ReadFileBytes(dir.Path() / "a.txt"), (Bytes{1, 2, 3})) << "the input must never be overwritten";
  EXPECT_EQ(fs::file_size(dir.Path() / "a.txt.bf"), 12u);
}

TEST_F(CryptOperations, PathsBeyondAsciiInCodePage1252) {
  TempDir dir;
  Key(L"k");
  const fs::path file = dir.Path() / L"caf\u00E9 \u00F1.txt";
  WriteFileBytes(file, {'x', 'y'});
  ASSERT_EQ(FileEncrypt(file), STATUS_OK);
  ASSERT_EQ(FileDecrypt(file.wstring() + L".bf"), STATUS_OK);
  EXPECT_EQ(ReadFileBytes(file.wstring() + L".bf.bf"), (Bytes{'x', 'y'}));

  const fs::path foreign = dir.Path() / L"\u0101.txt";  // not in code page 1252
  WriteFileBytes(foreign, {'x'});
  EXPECT_EQ(FileEncrypt(foreign), STATUS_NOT_IN_CODE_PAGE);
  EXPECT_FALSE(fs::exists(foreign.wstring() + L".bf"));
}

TEST_F(CryptOperations, Cp932PathsWithDoubleByteCharacters) {
  ASSERT_EQ(GetACP(), 932u);
  TempDir dir;
  Key(L"\u9375");  // a kanji key
  // U+8868 is 0x95 0x5C in code page 932: its trail byte is a backslash.
  const fs::path file = dir.Path() / L"\u65E5\u672C\u8A9E\u8868.txt";
  WriteFileBytes(file, {'d', 'a', 't', 'a'});
  ASSERT_EQ(FileEncrypt(file), STATUS_OK);
  ASSERT_EQ(FileDecrypt(file.wstring() + L".bf"), STATUS_OK);
  EXPECT_EQ(ReadFileBytes(file.wstring() + L".bf.bf"), (Bytes{'d', 'a', 't', 'a'}));
  EXPECT_EQ(Decrypt(Encrypt(L"\u65E5\u672C\u8A9E\u30C6\u30AD\u30B9\u30C8")), L"\u65E5\u672C\u8A9E\u30C6\u30AD\u30B9\u30C8");
  EXPECT_EQ(Status(), STATUS_OK);
}

}  // namespace
}  // namespace corvane
