// The encrypted-file format and the output path rule, with real files.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <string>

#include "crypt/file_cipher.h"
#include "crypt/status.h"
#include "tests/support/crypt_vectors.h"
#include "tests/support/temp_dir.h"

namespace corvane {
namespace {

using test::Bytes;
using test::ReadFileBytes;
using test::TempDir;
using test::WriteFileBytes;

std::int32_t Encrypt(const std::string& key, const std::string& path) {
  CDunlow dunlow;
  return EncryptFileBeside(dunlow, path.c_str(), kEncryptedFileSuffix, kLengthHeaderSize,
                           reinterpret_cast<const unsigned char*>(key.c_str()), static_cast<std::int32_t>(key.size()));
}

std::int32_t Decrypt(const std::string& key, const std::string& path) {
  CDunlow dunlow;
  return DecryptFileBeside(dunlow, path.c_str(), kEncryptedFileSuffix, kLengthHeaderSize,
                           reinterpret_cast<const unsigned char*>(key.c_str()), static_cast<std::int32_t>(key.size()));
}

Bytes RandomBytes(std::size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  Bytes b(n);
  for (auto& c : b) c = static_cast<unsigned char>(rng());
  return b;
}

TEST(FileCipher, MatchesTheBufferVectorsBothWays) {
  TempDir dir;
  for (const auto& v : test::BlowfishBufferVectors()) {
    SCOPED_TRACE(v.key + " / " + test::ToHex(v.plaintext));
    WriteFileBytes(dir.File("plain"), v.plaintext);
    ASSERT_EQ(Encrypt(v.key, dir.File("plain")), STATUS_OK);
    const Bytes expected = test::EncryptedFile(static_cast<std::uint32_t>(v.plaintext.size()), v.ciphertext);
    EXPECT_EQ(test::ToHex(ReadFileBytes(dir.File("plain.bf"))), test::ToHex(expected));

    WriteFileBytes(dir.File("cipher"), expected);
    ASSERT_EQ(Decrypt(v.key, dir.File("cipher")), STATUS_OK);
    EXPECT_EQ(test::ToHex(ReadFileBytes(dir.File("cipher.bf"))), test::ToHex(v.plaintext));
  }
}

TEST(FileCipher, RoundTripsFilesOfManySizesAlongThePathRule) {
  TempDir dir;
  const std::pair<std::size_t, std::size_t> sizes[] = {{0, 4},       {1, 12},       {7, 12},
                                                       {8, 12},      {9, 20},       {4096, 4100},
                                                       {3u << 20, (3u << 20) + 4}, {(3u << 20) + 5, (3u << 20) + 12}};
  for (const auto& [size, encryptedSize] : sizes) {
    SCOPED_TRACE(size);
    const Bytes content = RandomBytes(size, static_cast<unsigned>(size));
    WriteFileBytes(dir.File("a.txt"), content);
    ASSERT_EQ(Encrypt("file key", dir.File("a.txt")), STATUS_OK);
    EXPECT_EQ(std::filesystem::file_size(dir.Path() / "a.txt.bf"), encryptedSize);
    ASSERT_EQ(Decrypt("file key", dir.File("a.txt.bf")), STATUS_OK);
    EXPECT_TRUE(ReadFileBytes(dir.File("a.txt.bf.bf")) == content);
    EXPECT_TRUE(ReadFileBytes(dir.File("a.txt")) == content) << "the input is never changed";
  }
  auto names = dir.Names();
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"a.txt", "a.txt.bf", "a.txt.bf.bf"}));
}

TEST(FileCipher, EmptyFileEncryptsToAZeroHeader) {
  TempDir dir;
  WriteFileBytes(dir.File("empty"), {});
  ASSERT_EQ(Encrypt("k", dir.File("empty")), STATUS_OK);
  EXPECT_EQ(ReadFileBytes(dir.File("empty.bf")), (Bytes{0, 0, 0, 0}));
  ASSERT_EQ(Decrypt("k", dir.File("empty.bf")), STATUS_OK);
  EXPECT_TRUE(ReadFileBytes(dir.File("empty.bf.bf")).empty());
}

TEST(FileCipher, SameFileAndKeyGiveTheSameBytesAndEqualBlocksRepeat) {
  TempDir dir;
  WriteFileBytes(dir.File("x"), Bytes(16, 'z'));
  ASSERT_EQ(Encrypt("k", dir.File("x")), STATUS_OK);
  const Bytes first = ReadFileBytes(dir.File("x.bf"));
  ASSERT_EQ(Encrypt("k", dir.File("x")), STATUS_OK);
  EXPECT_EQ(ReadFileBytes(dir.File("x.bf")), first);
  EXPECT_TRUE(std::equal(first.begin() + 4, first.begin() + 12, first.begin() + 12));
}

struct ShortFileCase {
  const char* name;
  Bytes content;
};

TEST(FileCipher, HeadersLongerThanTheCiphertextWriteNothing) {
  TempDir dir;
  const Bytes block(8, 0x5A);
  const ShortFileCase cases[] = {
      {"empty file", {}},
      {"one byte", {1}},
      {"three bytes", {1, 0, 0}},
      {"header only, L=1", {1, 0, 0, 0}},
      {"L one beyond", test::EncryptedFile(9, block)},
      {"L = 0x80000000", test::EncryptedFile(0x80000000u, block)},
      {"L = 0xFFFFFFFF", test::EncryptedFile(0xFFFFFFFFu, block)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFileBytes(dir.File("short.bf"), c.content);
    EXPECT_EQ(Decrypt("k", dir.File("short.bf")), STATUS_SHORT_FILE);
    EXPECT_FALSE(std::filesystem::exists(dir.Path() / "short.bf.bf"));
    EXPECT_EQ(dir.Names().size(), 1u);
  }
}

TEST(FileCipher, AShorterHeaderWritesOnlyThatManyBytes) {
  TempDir dir;
  const Bytes content = RandomBytes(20, 1);
  WriteFileBytes(dir.File("p"), content);
  ASSERT_EQ(Encrypt("k", dir.File("p")), STATUS_OK);
  Bytes encrypted = ReadFileBytes(dir.File("p.bf"));
  encrypted[0] = 5;
  WriteFileBytes(dir.File("p.bf"), encrypted);
  ASSERT_EQ(Decrypt("k", dir.File("p.bf")), STATUS_OK);
  EXPECT_EQ(ReadFileBytes(dir.File("p.bf.bf")), Bytes(content.begin(), content.begin() + 5));
}

TEST(FileCipher, APartialLastBlockIsCompletedWithZeros) {
  TempDir dir;
  const Bytes cipher = RandomBytes(13, 2);  // one block and five bytes
  Bytes completed = cipher;
  completed.resize(16, 0);
  WriteFileBytes(dir.File("partial"), test::EncryptedFile(13, cipher));
  WriteFileBytes(dir.File("whole"), test::EncryptedFile(13, completed));
  ASSERT_EQ(Decrypt("k", dir.File("partial")), STATUS_OK);
  ASSERT_EQ(Decrypt("k", dir.File("whole")), STATUS_OK);
  EXPECT_EQ(ReadFileBytes(dir.File("partial.bf")), ReadFileBytes(dir.File("whole.bf")));
  EXPECT_EQ(ReadFileBytes(dir.File("partial.bf")).size(), 13u);
}

TEST(FileCipher, UnreadableInputsAndUnwritableOutputsAreStatuses) {
  TempDir dir;
  std::filesystem::create_directory(dir.Path() / "folder");
  WriteFileBytes(dir.File("blocked"), {1, 2, 3});
  std::filesystem::create_directory(dir.Path() / "blocked.bf");  // a folder where the output goes
  WriteFileBytes(dir.File("blocked.bf/keep"), {7});

  EXPECT_EQ(Encrypt("k", dir.File("missing")), STATUS_CANNOT_OPEN_INPUT);
  EXPECT_EQ(Decrypt("k", dir.File("missing")), STATUS_CANNOT_OPEN_INPUT);
  EXPECT_EQ(Encrypt("k", dir.File("folder")), STATUS_CANNOT_OPEN_INPUT);
  EXPECT_EQ(Encrypt("k", dir.File("blocked")), STATUS_CANNOT_WRITE_OUTPUT);
  EXPECT_EQ(ReadFileBytes(dir.File("blocked.bf/keep")), Bytes{7});

  auto names = dir.Names();
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"blocked", "blocked.bf", "folder"}));
  // A good call afterwards works.
  WriteFileBytes(dir.File("fine"), {1});
  EXPECT_EQ(Encrypt("k", dir.File("fine")), STATUS_OK);
}

// Without a key (an empty one, as a caller passes when it holds none) nothing is
// enciphered and nothing is written: a file under tables that no key schedule filled
// would be almost plaintext.
TEST(FileCipher, WithoutAKeyNothingIsWritten) {
  TempDir dir;
  WriteFileBytes(dir.File("plain"), Bytes(100, 'p'));
  EXPECT_EQ(Encrypt("", dir.File("plain")), STATUS_NO_KEY);
  EXPECT_FALSE(std::filesystem::exists(dir.File("plain.bf")));
  WriteFileBytes(dir.File("cipher"), test::EncryptedFile(8, Bytes(8, 'c')));
  EXPECT_EQ(Decrypt("", dir.File("cipher")), STATUS_NO_KEY);
  EXPECT_FALSE(std::filesystem::exists(dir.File("cipher.bf")));
}

}  // namespace
}  // namespace corvane
