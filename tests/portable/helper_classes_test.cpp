#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>

#include "crypt/dunlow.h"
#include "crypt/helper_buffer.h"
#include "crypt/pemmet.h"
#include "crypt/status.h"
#include "tests/support/temp_dir.h"

namespace corvane {
namespace {

using test::ReadFileBytes;
using test::TempDir;
using test::WriteFileBytes;
using Bytes = std::vector<unsigned char>;

TEST(CDunlowMemory, SmallocCharIsZeroFilledWithRoomForATerminator) {
  CDunlow d;
  for (std::uint32_t n : {0u, 1u, 100u}) {
    unsigned char* p = nullptr;
    ASSERT_EQ(d.SmallocChar(&p, n), 0);
    ASSERT_NE(p, nullptr);
    EXPECT_TRUE(std::all_of(p, p + n + 1, [](unsigned char c) { return c == 0; }));
    d.Sfree(&p);
    EXPECT_EQ(p, nullptr);
  }
}

TEST(CDunlowMemory, SmallocOfZeroBytesGivesABuffer) {
  CDunlow d;
  unsigned char* p = nullptr;
  ASSERT_EQ(d.Smalloc(&p, 0), 0);
  EXPECT_NE(p, nullptr);
  d.Sfree(&p);
}

TEST(CDunlowMemory, SmemCpyCharCopiesAndTerminates) {
  CDunlow d;
  const unsigned char src[] = {'a', 0, 'b', 'c'};
  unsigned char* p = nullptr;
  ASSERT_EQ(d.SmemCpyChar(&p, 4, src), 0);
  EXPECT_EQ(std::memcmp(p, src, 4), 0);
  EXPECT_EQ(p[4], 0);
  d.Sfree(&p);
}

TEST(CDunlowMemory, SfreeAcceptsNull) {
  CDunlow d;
  unsigned char* p = nullptr;
  d.Sfree(&p);
  d.Sfree(nullptr);
  EXPECT_EQ(p, nullptr);
}

// Sfree wipes; SfreeUnwiped (for ciphertext-only buffers) does not. Both free, accept
// null and clear the pointer; the sanitizer build would show a leak or a double free.
TEST(CDunlowMemory, BothReleasesFreeAcceptNullAndClearThePointer) {
  CDunlow d;
  for (auto release : {&CDunlow::Sfree, &CDunlow::SfreeUnwiped}) {
    unsigned char* p = nullptr;
    ASSERT_EQ(d.Smalloc(&p, 64), 0);
    (d.*release)(&p);
    EXPECT_EQ(p, nullptr);
    (d.*release)(&p);
    (d.*release)(nullptr);
  }
}

TEST(HelperBuffer, ReleasesTheOldBufferOnReceiveAndTheLastOnExit) {
  CDunlow d;
  for (auto holds : {HelperBuffer::Holds::Secrets, HelperBuffer::Holds::CiphertextOnly}) {
    HelperBuffer buffer(d, holds);
    ASSERT_EQ(d.Smalloc(buffer.Receive(), 16), 0);
    ASSERT_EQ(d.SmallocChar(buffer.Receive(), 16), 0);  // the first is released here
    EXPECT_EQ(buffer.Get()[16], 0);
  }
}

TEST(CDunlowFiles, ReadsWholeFilesOfAnySize) {
  TempDir dir;
  CDunlow d;
  for (std::size_t n : {0u, 1u, 4096u, 3u << 20}) {
    Bytes content(n);
    for (std::size_t i = 0; i < n; ++i) content[i] = static_cast<unsigned char>(i * 7 + 1);
    const std::string path = dir.File("in.bin");
    WriteFileBytes(path, content);
    unsigned char* p = nullptr;
    ASSERT_EQ(d.SFileReadA(path.c_str(), &p), static_cast<std::int32_t>(n));
    ASSERT_NE(p, nullptr);
    EXPECT_TRUE(std::equal(content.begin(), content.end(), p));
    d.Sfree(&p);
  }
}

TEST(CDunlowFiles, ReadFailuresAreStatuses) {
  TempDir dir;
  CDunlow d;
  std::filesystem::create_directory(dir.Path() / "folder");
  const std::pair<std::string, std::int32_t> cases[] = {
      {dir.File("missing.txt"), STATUS_CANNOT_OPEN_INPUT},
      {dir.File("folder"), STATUS_CANNOT_OPEN_INPUT},
      {"", STATUS_CANNOT_OPEN_INPUT},
  };
  for (const auto& [path, status] : cases) {
    unsigned char* p = nullptr;
    EXPECT_EQ(d.SFileReadA(path.c_str(), &p), status) << path;
    EXPECT_EQ(p, nullptr);
  }
}

TEST(CDunlowFiles, WritesCreateAndReplaceLeavingNoTemporaryFile) {
  TempDir dir;
  CDunlow d;
  const std::string path = dir.File("out.bin");
  const Bytes first = {1, 2, 3, 4, 5}, second = {9};
  ASSERT_EQ(d.SFileWriteA(first.data(), 5, path.c_str()), 0);
  EXPECT_EQ(ReadFileBytes(path), first);
  ASSERT_EQ(d.SFileWriteA(second.data(), 1, path.c_str()), 0);
  EXPECT_EQ(ReadFileBytes(path), second);
  ASSERT_EQ(d.SFileWriteA(nullptr, 0, path.c_str()), 0);
  EXPECT_TRUE(ReadFileBytes(path).empty());
  EXPECT_EQ(dir.Names(), std::vector<std::string>{"out.bin"});
}

TEST(CDunlowFiles, AFailedWriteLeavesNothingBehind) {
  TempDir dir;
  CDunlow d;
  std::filesystem::create_directory(dir.Path() / "folder");
  std::filesystem::create_directory(dir.Path() / "full-folder");
  WriteFileBytes(dir.File("full-folder/inside"), {1});
  const Bytes data = {1, 2, 3};
  for (const std::string& target : {dir.File("folder"), dir.File("full-folder"), dir.File("no-such-folder/out.bin"),
                                    std::string()}) {
    EXPECT_EQ(d.SFileWriteA(data.data(), 3, target.c_str()), STATUS_CANNOT_WRITE_OUTPUT) << target;
  }
  EXPECT_TRUE(std::filesystem::is_directory(dir.Path() / "folder"));
  EXPECT_TRUE(std::filesystem::is_empty(dir.Path() / "folder"));
  auto names = dir.Names();
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"folder", "full-folder"}));
}

std::string Base64Of(const std::string& plain) {
  CPemmet p;
  EXPECT_EQ(p.SmemCpyChar(p.GetMyMemInPP(), static_cast<std::uint32_t>(plain.size()),
                          reinterpret_cast<const unsigned char*>(plain.data())),
            0);
  const std::int32_t m = p.SInBase64Main(CPemmet::kEncode, static_cast<std::uint32_t>(plain.size()), 0);
  EXPECT_GE(m, 0);
  return m < 0 ? "<failed>" : std::string(reinterpret_cast<char*>(p.GetMyMemOutP()), static_cast<std::size_t>(m));
}

TEST(CPemmet, EncodesAndDecodesThroughItsOwnBuffers) {
  EXPECT_EQ(Base64Of("foobar"), "Zm9vYmFy");
  EXPECT_EQ(Base64Of(""), "");

  CPemmet p;
  const char text[] = "Zm9v\r\nYg==";
  ASSERT_EQ(p.SmemCpyChar(p.GetMyMemInPP(), 10, reinterpret_cast<const unsigned char*>(text)), 0);
  ASSERT_EQ(p.SInBase64Main(CPemmet::kDecode, 10, 0), 4);
  EXPECT_EQ(std::memcmp(p.GetMyMemOutP(), "foob", 5), 0);  // terminated as well
  // A second call replaces the output buffer (the sanitizer build sees any leak).
  ASSERT_EQ(p.SInBase64Main(CPemmet::kDecode, 4, 0), 3);
  EXPECT_EQ(std::memcmp(p.GetMyMemOutP(), "foo", 4), 0);
}

TEST(CPemmet, RefusesMalformedTextAndRequests) {
  CPemmet p;
  ASSERT_EQ(p.SmemCpyChar(p.GetMyMemInPP(), 3, reinterpret_cast<const unsigned char*>("Zg=")), 0);
  EXPECT_EQ(p.SInBase64Main(CPemmet::kDecode, 3, 0), STATUS_BAD_BASE64);
  EXPECT_EQ(p.GetMyMemOutP(), nullptr);
  EXPECT_EQ(p.SInBase64Main(CPemmet::kDecode, 2, 1), STATUS_BAD_BASE64);
  EXPECT_EQ(p.SInBase64Main(7, 2, 0), STATUS_BAD_BASE64);
  CPemmet empty;
  EXPECT_EQ(empty.SInBase64Main(CPemmet::kEncode, 5, 0), STATUS_BAD_BASE64);
  EXPECT_EQ(empty.SInBase64Main(CPemmet::kEncode, 0, 0), 0);
}

}  // namespace
}  // namespace corvane
