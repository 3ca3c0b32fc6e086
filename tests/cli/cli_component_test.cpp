// corvane.exe against the Crypt object itself, under Wine: the same key and inputs give
// the same Base64 text and the same files, and what one encrypts the other decrypts.
// Tests whose name holds "Cp932" run in a process with code page 932, the others 1252.
#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <string>
#include <vector>

#include "crypt/standalone_crypt.h"
#include "crypt/status.h"
#include "tests/cli/child_process.h"
#include "tests/support/temp_dir.h"
#include "tests/support/variants.h"
#include "tests/support/vector_files.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;
using test::BstrVariant;
using test::Bytes;
using test::ProcessRequest;
using test::ProcessResult;
using test::StdinMode;

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return std::string();
  const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &bytes[0], n, nullptr, nullptr);
  return bytes;
}

// The text in the process's ANSI code page, as the tool writes it to a pipe.
std::string Ansi(const std::wstring& text) {
  if (text.empty()) return std::string();
  const int n = WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &bytes[0], n, nullptr, nullptr);
  return bytes;
}

Bytes Pattern(std::size_t n) {
  Bytes bytes(n);
  std::uint32_t x = 0xC0FFEE;
  for (std::size_t i = 0; i < n; ++i) {
    x = x * 1664525u + 1013904223u;
    bytes[i] = static_cast<unsigned char>(x >> 24);
  }
  return bytes;
}

class CliAgainstComponent : public ::testing::Test {
 protected:
  void SetUp() override { crypt_ = StandaloneCrypt::Create(); }
  void TearDown() override { EXPECT_EQ(crypt_->Release(), 0u); }

  LONG Status() {
    LONG status = 0;
    crypt_->IsError(&status);
    return status;
  }
  void Key(const std::wstring& key) {
    key_ = key;
    BstrVariant v(key);
    crypt_->SetKey(*v);
    ASSERT_EQ(Status(), STATUS_OK);
  }
  // enCrypt's result, or "<status N>".
  std::wstring EnCrypt(const std::wstring& text) {
    BstrVariant in(text);
    VARIANT out;
    VariantInit(&out);
    crypt_->enCrypt(*in, &out);
    if (Status() != STATUS_OK) return L"<status " + std::to_wstring(Status()) + L">";
    std::wstring result = test::FromBstr(V_BSTR(&out));
    VariantClear(&out);
    return result;
  }
  std::wstring DeCrypt(const std::wstring& text) {
    BstrVariant in(text);
    VARIANT out;
    VariantInit(&out);
    crypt_->deCrypt(*in, &out);
    if (Status() != STATUS_OK) return L"<status " + std::to_wstring(Status()) + L">";
    std::wstring result = test::FromBstr(V_BSTR(&out));
    VariantClear(&out);
    return result;
  }
  LONG FileCall(HRESULT (STDMETHODCALLTYPE ICrypt::*method)(VARIANT), const std::string& name) {
    BstrVariant in((dir_.Path() / name).wstring());
    (crypt_->*method)(*in);
    return Status();
  }

  // The tool in the test's folder with the same key, through CORVANE_KEY.
  ProcessResult Run(const std::vector<std::string>& args, const std::string& input = std::string(),
                    StdinMode mode = StdinMode::kNull) {
    ProcessRequest request;
    request.args = args;
    request.workDir = dir_.Path();
    request.env["CORVANE_KEY"] = Utf8(key_);
    request.input = input;
    request.stdinMode = mode;
    return test::RunProcess(fs::path(CORVANE_CLI_PATH), request);
  }

  // Both ways round for each text: the tool's Base64 equals enCrypt's, deCrypt reads
  // the tool's, and the tool gives the text back in the ANSI code page.
  void ExpectSameTexts(const std::vector<std::wstring>& texts) {
    std::vector<std::string> args = {"encrypt-text", "--"};
    std::string expected;
    for (const std::wstring& text : texts) {
      args.push_back(Utf8(text));
      expected += Utf8(EnCrypt(text)) + "\r\n";  // text lines end as Windows tools end them
    }
    const ProcessResult encrypted = Run(args);
    ASSERT_EQ(encrypted.exitCode, 0) << encrypted.err;
    EXPECT_EQ(encrypted.out, expected);

    std::string lines;
    std::size_t start = 0;
    for (const std::wstring& text : texts) {
      const std::size_t end = encrypted.out.find('\n', start);
      const std::string base64 = encrypted.out.substr(start, end - 1 - start);
      start = end + 1;
      EXPECT_EQ(DeCrypt(std::wstring(base64.begin(), base64.end())), text);
      lines += Ansi(text) + "\r\n";
    }
    const ProcessResult decrypted = Run({"decrypt-text"}, encrypted.out, StdinMode::kPipe);
    ASSERT_EQ(decrypted.exitCode, 0) << decrypted.err;
    EXPECT_EQ(decrypted.out, lines);
  }

  StandaloneCrypt* crypt_ = nullptr;
  std::wstring key_;
  test::TempDir dir_;
};

TEST_F(CliAgainstComponent, TextsGiveTheComponentsCiphertextInCodePage1252) {
  ASSERT_EQ(GetACP(), 1252u);
  Key(L"cl\u00E9 \u20AC");  // "clé €": the key goes through the code page too
  ExpectSameTexts({L"", L"a", L"caf\u00E9", L"sixteen bytes!!!", L"\u20ACuro \u2013 \u201Cquoted\u201D",
                   L"\u00C4\u00D6\u00DC\u00E4\u00F6\u00FC\u00DF, a text of several blocks"});

  // Characters the code page lacks: the component refuses them, and so does the tool.
  EXPECT_EQ(EnCrypt(L"\u65E5\u672C"), L"<status -102>");
  const ProcessResult r = Run({"encrypt-text", Utf8(L"\u65E5\u672C")});
  EXPECT_EQ(r.exitCode, 9);
  EXPECT_NE(r.err.find("argument 1: the text has characters that code page 1252 cannot represent"), std::string::npos)
      << r.err;

  // The anchors the native tests use for --encoding windows-1252: the five bytes that
  // glibc's table lacks are the C1 controls of the same numbers here.
  Key(L"TESTKEY");
  EXPECT_EQ(EnCrypt(L"caf\u00E9"), L"dnpeF6ec0/I=");
  const std::wstring controls = L"\u0081\u008D\u008F\u0090\u009D";
  EXPECT_EQ(EnCrypt(controls), L"Uckp0msrwUg=");
  const ProcessResult tool = Run({"encrypt-text", "--encoding", "windows-1252", Utf8(controls)});
  ASSERT_EQ(tool.exitCode, 0) << tool.err;
  EXPECT_EQ(tool.out, "Uckp0msrwUg=\r\n");
}

TEST_F(CliAgainstComponent, FilesGiveTheComponentsBytesBothWays) {
  Key(L"file key");
  const std::size_t kMiB = std::size_t{1} << 20;
  for (std::size_t size : {std::size_t{0}, std::size_t{1}, std::size_t{8}, std::size_t{9}, std::size_t{1000},
                           kMiB + 3, 3 * kMiB + 5}) {
    SCOPED_TRACE("size " + std::to_string(size));
    const Bytes plain = Pattern(size);
    test::WriteFileBytes(dir_.Path() / "plain", plain);
    ASSERT_EQ(FileCall(&ICrypt::FileEnCrypt, "plain"), STATUS_OK);
    const Bytes component = test::ReadFileBytes(dir_.Path() / "plain.bf");
    fs::rename(dir_.Path() / "plain.bf", dir_.Path() / "component.bf");

    ProcessResult r = Run({"encrypt-file", "plain"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(test::ReadFileBytes(dir_.Path() / "plain.bf") == component) << "named file";
    r = Run({"encrypt-file", "-"}, std::string(plain.begin(), plain.end()), StdinMode::kPipe);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(Bytes(r.out.begin(), r.out.end()) == component) << "pipe";

    // The tool decrypts the component's file as the component does; and the reverse.
    ASSERT_EQ(FileCall(&ICrypt::FileDeCrypt, "component.bf"), STATUS_OK);
    r = Run({"decrypt-file", "component.bf", "-o", "tool.out"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(test::ReadFileBytes(dir_.Path() / "tool.out") == plain);
    EXPECT_TRUE(test::ReadFileBytes(dir_.Path() / "component.bf.bf") == plain);
    ASSERT_EQ(FileCall(&ICrypt::FileDeCrypt, "plain.bf"), STATUS_OK);
    EXPECT_TRUE(test::ReadFileBytes(dir_.Path() / "plain.bf.bf") == plain);
  }
}

TEST_F(CliAgainstComponent, OddEncryptedFilesAreTreatedAlike) {
  Key(L"odd key");
  const Bytes block(8, 0x5A);
  struct Case {
    const char* name;
    Bytes file;
  };
  const std::vector<Case> cases = {
      {"extra bytes", {3, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}},
      {"partial last block", {5, 0, 0, 0, 1, 2, 3, 4, 5}},
      {"short ciphertext", {9, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8}},
      {"no header", {1, 2, 3}},
      {"huge header", {0xFF, 0xFF, 0xFF, 0xFF, 1, 2, 3, 4, 5, 6, 7, 8}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::WriteFileBytes(dir_.Path() / "odd.bf", c.file);
    fs::remove(dir_.Path() / "odd.bf.bf");
    const LONG status = FileCall(&ICrypt::FileDeCrypt, "odd.bf");
    const Bytes component = test::ReadFileBytes(dir_.Path() / "odd.bf.bf");
    fs::remove(dir_.Path() / "odd.bf.bf");
    const ProcessResult r = Run({"decrypt-file", "odd.bf"});
    if (status == STATUS_OK) {
      EXPECT_EQ(r.exitCode, 0) << r.err;
      EXPECT_TRUE(test::ReadFileBytes(dir_.Path() / "odd.bf.bf") == component);
    } else {
      EXPECT_EQ(status, STATUS_SHORT_FILE);
      EXPECT_EQ(r.exitCode, 8) << r.err;
      EXPECT_FALSE(fs::exists(dir_.Path() / "odd.bf.bf"));
    }
  }
}

TEST_F(CliAgainstComponent, PathsBeyondTheCodePageWorkForTheTool) {
  Key(L"k");
  const std::wstring name = L"\u65E5\u672C.txt";  // not in code page 1252
  test::WriteFileBytes(dir_.Path() / name, Bytes{'h', 'i'});
  const ProcessResult r = Run({"encrypt-file", Utf8(name)});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(test::ReadFileBytes(dir_.Path() / (name + L".bf")).size(), 12u);
}

TEST_F(CliAgainstComponent, Cp932TextsGiveTheComponentsCiphertext) {
  ASSERT_EQ(GetACP(), 932u);
  Key(L"\u9375");  // 鍵: the key in two bytes of code page 932
  // Kanji, half-width katakana (one byte each), and 表 (0x95 0x5C: a trail byte that is '\').
  ExpectSameTexts({L"\u65E5\u672C\u8A9E", L"\uFF76\uFF80\uFF76\uFF85", L"\u8868\u8868 and ASCII", L"mixed \u65E5 text"});

  // The anchors the native tests use for --encoding cp932, and a 1252 text from here.
  Key(L"TESTKEY");
  EXPECT_EQ(EnCrypt(L"\u65E5\u672C\u8A9E"), L"WUR8hkd18zM=");
  EXPECT_EQ(EnCrypt(L"\u0080"), L"kW79dYAdtLs=");
  for (const wchar_t* refused : {L"\u00A5", L"\u2212", L"\u301C"}) EXPECT_EQ(EnCrypt(refused), L"<status -102>");
  const ProcessResult r = Run({"encrypt-text", "--encoding", "windows-1252", Utf8(L"caf\u00E9")});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "dnpeF6ec0/I=\r\n");
}

}  // namespace
}  // namespace corvane
