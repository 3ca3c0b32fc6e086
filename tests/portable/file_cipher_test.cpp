// The encrypted-file format and the output path rule, with real files.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <future>
#include <random>
#include <string>
#include <thread>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

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

// The file streams: an input that another program shortens while it is read ends the
// call with STATUS_CANNOT_READ_INPUT and nothing written, never an output whose header
// states more than it holds; one that grows is taken at its size when it was opened.
// Whether the change lands before, during or after the read is up to the scheduler: each
// outcome must be whole.
TEST(FileCipher, AnInputThatChangesWhileItIsReadGivesAConsistentResult) {
  TempDir dir;
  const std::size_t size = 12u << 20;
  const Bytes content = RandomBytes(size, 3);
  for (const bool shrink : {true, false}) {
    SCOPED_TRACE(shrink ? "shrinks" : "grows");
    WriteFileBytes(dir.File("log"), content);
    auto change = std::async(std::launch::async, [&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
      if (shrink) {
        std::filesystem::resize_file(dir.Path() / "log", 1u << 20);
      } else {
        std::filesystem::resize_file(dir.Path() / "log", size + (1u << 20));
      }
    });
    const std::int32_t status = Encrypt("k", dir.File("log"));
    change.get();
    if (status == STATUS_OK) {
      const Bytes encrypted = ReadFileBytes(dir.File("log.bf"));
      ASSERT_GE(encrypted.size(), 4u);
      const std::uint32_t stated = encrypted[0] | encrypted[1] << 8 | encrypted[2] << 16 | std::uint32_t{encrypted[3]} << 24;
      EXPECT_EQ(encrypted.size(), 4 + (std::size_t{stated} + 7) / 8 * 8) << "the header states what the file holds";
      if (!shrink) {
        EXPECT_EQ(stated, size) << "the size at opening";
      }
      ASSERT_EQ(Decrypt("k", dir.File("log.bf")), STATUS_OK);
      const Bytes back = ReadFileBytes(dir.File("log.bf.bf"));
      EXPECT_TRUE(std::equal(back.begin(), back.end(), content.begin())) << "a prefix of what the file held";
    } else {
      EXPECT_TRUE(shrink);
      EXPECT_EQ(status, STATUS_CANNOT_READ_INPUT);
      EXPECT_FALSE(std::filesystem::exists(dir.Path() / "log.bf"));
    }
    for (const char* name : {"log.bf", "log.bf.bf"}) std::filesystem::remove(dir.Path() / name);
    EXPECT_EQ(dir.Names(), std::vector<std::string>{"log"}) << "no temporary file";
  }
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

// Names whose ".bf" name is near the 255-character limit: the temporary file beside the
// output must fit too (the usual temporary name is 12 or more characters longer).
TEST(FileCipher, NamesNearTheLengthLimitEncryptAndDecrypt) {
  TempDir dir;
  for (std::size_t length : {235u, 241u, 246u, 252u}) {
    SCOPED_TRACE(length);
    const std::string name(length, 'n');
    WriteFileBytes(dir.Path() / name, {1, 2, 3});
    ASSERT_EQ(Encrypt("k", dir.File(name)), STATUS_OK);
    EXPECT_EQ(std::filesystem::file_size(dir.Path() / (name + ".bf")), 12u);
    // Decryption writes name + ".bf.bf", past the limit for these: refused, nothing left.
    if (length + 6 > 255) {
      EXPECT_EQ(Decrypt("k", dir.File(name + ".bf")), STATUS_CANNOT_WRITE_OUTPUT);
    } else {
      ASSERT_EQ(Decrypt("k", dir.File(name + ".bf")), STATUS_OK);
      EXPECT_EQ(ReadFileBytes(dir.Path() / (name + ".bf.bf")), (Bytes{1, 2, 3}));
    }
    // Replacing an existing output works the same way.
    ASSERT_EQ(Encrypt("k", dir.File(name)), STATUS_OK);
    EXPECT_EQ(dir.Names().size(), length + 6 > 255 ? 2u : 3u);
    std::filesystem::remove_all(dir.Path());
    std::filesystem::create_directory(dir.Path());
  }
}

#ifndef _WIN32
mode_t ModeOf(const std::filesystem::path& path) {
  struct stat info;
  EXPECT_EQ(::lstat(path.c_str(), &info), 0);
  return info.st_mode & 07777;
}

// The file that is replaced gives its permissions to the new one: a decrypted file that
// replaced a 0600 file must not become readable by others.
TEST(FileCipher, AReplacedFileKeepsItsMode) {
  TempDir dir;
  WriteFileBytes(dir.Path() / "in", {1, 2, 3});
  const mode_t previous = ::umask(022);
  for (mode_t mode : {mode_t{0600}, mode_t{0640}, mode_t{0604}, mode_t{0666}}) {
    SCOPED_TRACE(mode);
    WriteFileBytes(dir.Path() / "in.bf", {'o', 'l', 'd'});
    ASSERT_EQ(::chmod((dir.Path() / "in.bf").c_str(), mode), 0);
    ASSERT_EQ(Encrypt("k", dir.File("in")), STATUS_OK);
    EXPECT_EQ(std::filesystem::file_size(dir.Path() / "in.bf"), 12u);
    EXPECT_EQ(ModeOf(dir.Path() / "in.bf"), mode);
  }
  // A new file is made as any other program makes one: 0666 less the umask.
  std::filesystem::remove(dir.Path() / "in.bf");
  ASSERT_EQ(Encrypt("k", dir.File("in")), STATUS_OK);
  EXPECT_EQ(ModeOf(dir.Path() / "in.bf"), mode_t{0644});
  ::umask(previous);
}

TEST(FileCipher, AReplacedFileKeepsItsOwnerAndGroupWhereThatIsAllowed) {
  if (::geteuid() != 0) {
    GTEST_SKIP() << "only root may give a file to another owner";
  }
  TempDir dir;
  WriteFileBytes(dir.Path() / "in", {1, 2, 3});
  WriteFileBytes(dir.Path() / "in.bf", {'o', 'l', 'd'});
  ASSERT_EQ(::chown((dir.Path() / "in.bf").c_str(), 4321, 4322), 0);
  ASSERT_EQ(::chmod((dir.Path() / "in.bf").c_str(), 0640), 0);
  ASSERT_EQ(Encrypt("k", dir.File("in")), STATUS_OK);
  struct stat info;
  ASSERT_EQ(::stat((dir.Path() / "in.bf").c_str(), &info), 0);
  EXPECT_EQ(info.st_uid, 4321u);
  EXPECT_EQ(info.st_gid, 4322u);
  EXPECT_EQ(info.st_mode & 07777, 0640u);
}

// As on Windows: a read-only file, a symbolic link, a FIFO at the output path is not
// replaced (a link's target is not written either), and nothing is left behind.
TEST(FileCipher, ReadOnlyFilesLinksAndFifosAtTheOutputAreLeftAlone) {
  TempDir dir;
  const std::filesystem::path d = dir.Path();
  WriteFileBytes(d / "in", {1, 2, 3});
  WriteFileBytes(d / "real", {'r', 'e', 'a', 'l'});

  WriteFileBytes(d / "in.bf", {'o', 'l', 'd'});
  ASSERT_EQ(::chmod((d / "in.bf").c_str(), 0444), 0);
  EXPECT_EQ(Encrypt("k", dir.File("in")), STATUS_CANNOT_WRITE_OUTPUT) << "a read-only file, even for root";
  EXPECT_EQ(ReadFileBytes(d / "in.bf"), (Bytes{'o', 'l', 'd'}));
  std::filesystem::remove(d / "in.bf");

  std::filesystem::create_symlink("real", d / "in.bf");
  EXPECT_EQ(Encrypt("k", dir.File("in")), STATUS_CANNOT_WRITE_OUTPUT);
  EXPECT_TRUE(std::filesystem::is_symlink(d / "in.bf"));
  EXPECT_EQ(ReadFileBytes(d / "real"), (Bytes{'r', 'e', 'a', 'l'}));
  std::filesystem::remove(d / "in.bf");

  ASSERT_EQ(::mkfifo((d / "in.bf").c_str(), 0600), 0);
  EXPECT_EQ(Encrypt("k", dir.File("in")), STATUS_CANNOT_WRITE_OUTPUT);
  EXPECT_TRUE(std::filesystem::is_fifo(d / "in.bf"));

  auto names = dir.Names();
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"in", "in.bf", "real"}));
}

// An output path that is the input itself, through a hard link, is refused before
// anything is written (replacing it would leave the input's content under one name only).
TEST(FileCipher, AnOutputThatIsTheInputByAHardLinkIsRefused) {
  TempDir dir;
  const std::filesystem::path d = dir.Path();
  WriteFileBytes(d / "in", {1, 2, 3});
  std::filesystem::create_hard_link(d / "in", d / "in.bf");
  EXPECT_EQ(Encrypt("k", dir.File("in")), STATUS_CANNOT_WRITE_OUTPUT);
  EXPECT_EQ(std::filesystem::hard_link_count(d / "in"), 2u);
  EXPECT_EQ(ReadFileBytes(d / "in"), (Bytes{1, 2, 3}));
  EXPECT_EQ(dir.Names().size(), 2u);
}

// A FIFO as the input is refused at once: opening it for reading would wait for a writer.
TEST(FileCipher, AFifoAsInputIsRefusedWithoutWaiting) {
  TempDir dir;
  const std::string fifo = dir.File("fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  auto call = std::async(std::launch::async, [&] { return Encrypt("k", fifo); });
  if (call.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
    // Releases the blocked open so that the test can end.
    const int writer = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
    call.wait();
    if (writer >= 0) ::close(writer);
    FAIL() << "FileEnCrypt waited for a writer of the FIFO";
  }
  EXPECT_EQ(call.get(), STATUS_CANNOT_OPEN_INPUT);
  EXPECT_FALSE(std::filesystem::exists(dir.Path() / "fifo.bf"));
}
#endif

}  // namespace
}  // namespace corvane
