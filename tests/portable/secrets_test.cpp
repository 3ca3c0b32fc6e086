// Every block that held key material or plaintext is zero when its memory is released.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>

#include "crypt/file_cipher.h"
#include "crypt/status.h"
#include "crypt/stream_format.h"
#include "crypt/string_cipher.h"
#include "engine/blowfish_engine.h"
#include "tests/support/release_recorder.h"
#include "tests/support/temp_dir.h"

namespace corvane {
namespace {

using test::ReleaseRecorder;

const unsigned char kKey[] = "a key that must not linger";
constexpr std::int32_t kKeyLength = sizeof kKey - 1;

TEST(Secrets, TheEngineWipesItsExpandedKeyTables) {
  ReleaseRecorder recorder;
  {
    BlowfishEngine engine;
    engine.Initialize(kKey, kKeyLength);
  }
  ASSERT_EQ(recorder.Blocks().size(), 2u);
  EXPECT_EQ(recorder.Blocks()[0].size, 18 * 4u);
  EXPECT_EQ(recorder.Blocks()[1].size, 1024 * 4u);
  EXPECT_TRUE(recorder.AllZero());
}

TEST(Secrets, StringOperationsWipeThePlaintextBuffers) {
  const std::string plaintext(200, 'p');
  ReleaseRecorder recorder;
  std::string base64;
  {
    CPemmet pemmet;
    unsigned char* text = nullptr;
    ASSERT_EQ(EncryptToBase64(pemmet, reinterpret_cast<const unsigned char*>(plaintext.data()), 200, kKey, kKeyLength,
                              &text),
              0);
    base64 = reinterpret_cast<char*>(text);
    pemmet.Sfree(&text);
  }
  {
    CPemmet pemmet;
    pemmet.SmemCpyChar(pemmet.GetMyMemInPP(), static_cast<std::uint32_t>(base64.size()),
                       reinterpret_cast<const unsigned char*>(base64.data()));
    unsigned char* text = nullptr;
    ASSERT_EQ(DecryptFromBase64(pemmet, static_cast<std::uint32_t>(base64.size()), kKey, kKeyLength, &text), 0);
    ASSERT_EQ(std::string(reinterpret_cast<char*>(text)), plaintext);
    pemmet.Sfree(&text);
  }
  // Engines' tables, the padded input, the Base64 buffers and the decrypted text.
  EXPECT_GE(recorder.CountAtLeast(200), 4u);
  EXPECT_TRUE(recorder.AllZero());
}

TEST(Secrets, FileOperationsWipeTheContentAndResultBuffers) {
  test::TempDir dir;
  test::WriteFileBytes(dir.File("plain"), std::vector<unsigned char>(5000, 'q'));
  ReleaseRecorder recorder;
  CDunlow dunlow;
  ASSERT_EQ(EncryptFileBeside(dunlow, dir.File("plain").c_str(), ".bf", 4, kKey, kKeyLength), 0);
  ASSERT_EQ(DecryptFileBeside(dunlow, dir.File("plain.bf").c_str(), ".bf", 4, kKey, kKeyLength), 0);
  // The plaintext: the content that FileEnCrypt read and the result of FileDeCrypt.
  // Buffers that only ever hold ciphertext are released without a wipe.
  EXPECT_EQ(recorder.CountAtLeast(5000), 2u);
  EXPECT_TRUE(recorder.AllZero());
}

// An output that cannot be made (a folder stands in its place) is refused before any of
// the input is read: no plaintext was in memory.
TEST(Secrets, AnOutputThatCannotBeMadeIsRefusedBeforeThePlaintextIsRead) {
  test::TempDir dir;
  test::WriteFileBytes(dir.File("plain"), std::vector<unsigned char>(5000, 'q'));
  CDunlow dunlow;
  ASSERT_EQ(EncryptFileBeside(dunlow, dir.File("plain").c_str(), ".bf", 4, kKey, kKeyLength), 0);
  std::filesystem::create_directory(dir.File("plain.bf.bf"));
  std::filesystem::rename(dir.File("plain.bf"), dir.File("moved.bf"));
  std::filesystem::create_directory(dir.File("plain.bf"));
  std::filesystem::create_directory(dir.File("moved.bf.bf"));

  ReleaseRecorder recorder;
  EXPECT_EQ(EncryptFileBeside(dunlow, dir.File("plain").c_str(), ".bf", 4, kKey, kKeyLength),
            STATUS_CANNOT_WRITE_OUTPUT);
  EXPECT_EQ(DecryptFileBeside(dunlow, dir.File("moved.bf").c_str(), ".bf", 4, kKey, kKeyLength),
            STATUS_CANNOT_WRITE_OUTPUT);
  EXPECT_EQ(recorder.CountAtLeast(5000), 0u) << "no chunk was taken";
  EXPECT_TRUE(recorder.AllZero());
}

// A write that fails in the middle of a stream (a full disk) ends it with plaintext in a
// chunk: the chunk is wiped on that path as on success.
class BytesReader final : public ByteReader {
 public:
  explicit BytesReader(const std::vector<unsigned char>& bytes) : bytes_(bytes) {}
  FileStatus Read(void* buffer, std::size_t n, std::size_t* got) override {
    *got = std::min(n, bytes_.size() - at_);
    std::memcpy(buffer, bytes_.data() + at_, *got);
    at_ += *got;
    return FileStatus::Ok;
  }

 private:
  const std::vector<unsigned char>& bytes_;
  std::size_t at_ = 0;
};

class FailingWriter final : public ByteWriter {
 public:
  // Takes `allowed` bytes, then fails.
  explicit FailingWriter(std::size_t allowed) : allowed_(allowed) {}
  FileStatus Write(const void*, std::size_t n) override {
    if (n > allowed_) return FileStatus::CannotWrite;
    allowed_ -= n;
    return FileStatus::Ok;
  }

 private:
  std::size_t allowed_;
};

TEST(Secrets, AWriteThatFailsMidStreamWipesThePlaintextChunk) {
  BlowfishEngine engine;
  ASSERT_TRUE(engine.Initialize(kKey, kKeyLength));
  const std::vector<unsigned char> data(3 * kStreamChunkSize, 'q');
  {
    ReleaseRecorder recorder;
    BytesReader reader(data);
    FailingWriter writer(kLengthHeaderSize + kStreamChunkSize);
    EXPECT_EQ(EncryptFileStream(engine, reader, static_cast<std::uint32_t>(data.size()), writer, nullptr),
              StreamStatus::kCannotWrite);
    EXPECT_EQ(recorder.CountAtLeast(kStreamChunkSize), 1u) << "the plaintext chunk; the ciphertext one is not wiped";
    EXPECT_TRUE(recorder.AllZero());
  }
  {
    ReleaseRecorder recorder;
    BytesReader reader(data);  // taken as ciphertext: deciphers to plaintext
    FailingWriter writer(kStreamChunkSize);
    EXPECT_EQ(DecryptFileStream(engine, reader, static_cast<std::uint32_t>(data.size()), writer, nullptr),
              StreamStatus::kCannotWrite);
    EXPECT_EQ(recorder.CountAtLeast(kStreamChunkSize), 1u) << "the deciphered chunk";
    EXPECT_TRUE(recorder.AllZero());
  }
}

}  // namespace
}  // namespace corvane
