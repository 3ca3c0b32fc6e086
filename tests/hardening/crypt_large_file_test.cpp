// Files near the format's limits through the real DLL: every plaintext length the 4-byte
// header can state is encrypted and decrypted by either bitness (the file operations
// stream through fixed buffers, so a 32-bit host holds no more of a 3 GiB file than of a
// small one), and sizes beyond the format are refused before anything is written.
// Sparse inputs: the tests need the sizes, not the disk space; only the outputs take it.
#include <gtest/gtest.h>

#include <windows.h>
#include <winioctl.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "common/com_holders.h"
#include "crypt/status.h"
#include "engine/blowfish_engine.h"
#include "tests/server/corvane_module.h"
#include "tests/support/temp_dir.h"
#include "tests/support/variants.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<unsigned char>;

constexpr std::uint64_t kGiB = std::uint64_t{1} << 30;
const char kKey[] = "large file key";

// A sparse file of `size` bytes whose only data are `pieces` (offset, bytes).
void SparseFile(const fs::path& path, std::uint64_t size, const std::vector<std::pair<std::uint64_t, Bytes>>& pieces) {
  const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  DWORD returned = 0;
  DeviceIoControl(file, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &returned, nullptr);
  bool ok = true;
  for (const auto& [offset, bytes] : pieces) {
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(offset);
    DWORD written = 0;
    ok = ok && SetFilePointerEx(file, at, nullptr, FILE_BEGIN) &&
         WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) && written == bytes.size();
  }
  LARGE_INTEGER end;
  end.QuadPart = static_cast<LONGLONG>(size);
  ok = ok && SetFilePointerEx(file, end, nullptr, FILE_BEGIN) && SetEndOfFile(file);
  CloseHandle(file);
  ASSERT_TRUE(ok);
}

// n bytes of the file from `offset` (64-bit: beyond what a 32-bit stream seeks to).
Bytes ReadAt(const fs::path& path, std::uint64_t offset, std::size_t n) {
  const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return {};
  Bytes bytes(n);
  LARGE_INTEGER at;
  at.QuadPart = static_cast<LONGLONG>(offset);
  DWORD got = 0;
  const bool ok = SetFilePointerEx(file, at, nullptr, FILE_BEGIN) &&
                  ReadFile(file, bytes.data(), static_cast<DWORD>(n), &got, nullptr) && got == n;
  CloseHandle(file);
  return ok ? bytes : Bytes{};
}

std::uint64_t SizeOf(const fs::path& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return 0;
  return (std::uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
}

Bytes Pattern(std::size_t n, unsigned char seed) {
  Bytes bytes(n);
  for (std::size_t i = 0; i < n; ++i) bytes[i] = static_cast<unsigned char>(seed + 37 * i);
  return bytes;
}

class CryptLargeFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    crypt_.Reset(test::CorvaneModule::Get().NewCrypt());
    ASSERT_TRUE(crypt_);
    test::BstrVariant key(std::wstring(kKey, kKey + sizeof kKey - 1));
    ASSERT_EQ(crypt_->SetKey(*key), S_OK);
    ASSERT_TRUE(engine_.Initialize(reinterpret_cast<const unsigned char*>(kKey), sizeof kKey - 1));
  }

  LONG Status() {
    LONG status = 1;
    crypt_->IsError(&status);
    return status;
  }
  LONG FileEncrypt(const fs::path& path) {
    test::BstrVariant in(path.wstring());
    EXPECT_EQ(crypt_->FileEnCrypt(*in), S_OK);
    return Status();
  }
  LONG FileDecrypt(const fs::path& path) {
    test::BstrVariant in(path.wstring());
    EXPECT_EQ(crypt_->FileDeCrypt(*in), S_OK);
    return Status();
  }
  Bytes Encode(const Bytes& plaintext) const {
    Bytes out(BlowfishEngine::GetOutputLength(static_cast<std::uint32_t>(plaintext.size())));
    engine_.Encode(plaintext.data(), out.data(), static_cast<std::uint32_t>(plaintext.size()));
    return out;
  }

  ComPtr<ICrypt> crypt_;
  BlowfishEngine engine_;
  test::TempDir dir_;
};

// The largest case: 3 GiB plaintext, more than a 32-bit process's whole address space
// unless large-address-aware. The outputs take 6 GiB of disk until the end of the test.
TEST_F(CryptLargeFiles, AThreeGiBFileEncryptsAndDecryptsBack) {
  ULARGE_INTEGER available = {};
  ASSERT_TRUE(GetDiskFreeSpaceExW(dir_.Path().c_str(), &available, nullptr, nullptr));
  if (available.QuadPart < 8 * kGiB) {
    GTEST_SKIP() << "SKIPPED: needs 8 GiB of free disk space for its outputs, " << available.QuadPart / (1 << 20)
                 << " MiB free in " << dir_.Path().string();
  }
  const std::uint64_t size = 3 * kGiB;
  const Bytes head = Pattern(24, 1), tail = Pattern(24, 2);
  const fs::path plain = dir_.Path() / "big";
  const fs::path encrypted = dir_.Path() / "big.bf", decrypted = dir_.Path() / "big.bf.bf";
  SparseFile(plain, size, {{0, head}, {size - tail.size(), tail}});

  ASSERT_EQ(FileEncrypt(plain), STATUS_OK);
  EXPECT_EQ(SizeOf(encrypted), 4 + size);
  EXPECT_EQ(ReadAt(encrypted, 0, 4), (Bytes{0x00, 0x00, 0x00, 0xC0})) << "the length, little-endian";
  EXPECT_EQ(ReadAt(encrypted, 4, head.size()), Encode(head));
  EXPECT_EQ(ReadAt(encrypted, 4 + size / 2, 8), Encode(Bytes(8, 0))) << "a block of the hole";
  EXPECT_EQ(ReadAt(encrypted, 4 + size - tail.size(), tail.size()), Encode(tail));
  EXPECT_EQ(SizeOf(plain), size) << "the input is never changed";
  EXPECT_EQ(ReadAt(plain, size - tail.size(), tail.size()), tail);

  ASSERT_EQ(FileDecrypt(encrypted), STATUS_OK);
  EXPECT_EQ(SizeOf(decrypted), size);
  EXPECT_EQ(ReadAt(decrypted, 0, head.size()), head);
  EXPECT_EQ(ReadAt(decrypted, size / 2 + 5, 16), Bytes(16, 0));
  EXPECT_EQ(ReadAt(decrypted, size - tail.size(), tail.size()), tail);

  // Freed at once, not only when the folder goes: other tests share the disk.
  for (const fs::path& p : {decrypted, encrypted, plain}) EXPECT_TRUE(DeleteFileW(p.c_str()));
  EXPECT_TRUE(dir_.Names().empty());
}

// Decided from the size and the header before anything is written: no output, no
// temporary file.
TEST_F(CryptLargeFiles, SizesTheFormatCannotHoldWriteNothing) {
  struct Case {
    const char* name;
    bool encrypt;
    std::uint64_t size;
    Bytes header;  // at offset 0
    LONG status;
  };
  const Case cases[] = {
      {"a header of 3 GiB over 16 bytes", false, 4 + 16, {0x00, 0x00, 0x00, 0xC0}, STATUS_SHORT_FILE},
      {"a header of 3 GiB over 3 GiB - 1 bytes", false, 4 + 3 * kGiB - 1, {0x00, 0x00, 0x00, 0xC0}, STATUS_SHORT_FILE},
      {"a header of 4 GiB - 1 over 4 GiB - 8 bytes", false, 4 + 4 * kGiB - 8, {0xFF, 0xFF, 0xFF, 0xFF},
       STATUS_SHORT_FILE},
      {"a plaintext of 4 GiB", true, 4 * kGiB, {}, STATUS_CANNOT_READ_INPUT},
      {"an encrypted file larger than any the format has", false, 4 + 4 * kGiB + 1, {0x01, 0x00, 0x00, 0x00},
       STATUS_CANNOT_READ_INPUT},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path input = dir_.Path() / "in";
    SparseFile(input, c.size, {{0, c.header}});
    EXPECT_EQ(c.encrypt ? FileEncrypt(input) : FileDecrypt(input), c.status);
    EXPECT_EQ(dir_.Names(), std::vector<std::string>{"in"}) << "no output file, no temporary file";
    EXPECT_EQ(SizeOf(input), c.size);
    fs::remove(input);
  }
}

// The largest file the format has (a header of 4 GiB - 1, then 4 GiB of ciphertext) passes
// the size and header checks: decrypting it would take 4 GiB of disk, so a folder at the
// output path stops it there, with the status of an unwritable output.
TEST_F(CryptLargeFiles, TheLargestEncryptedFilePassesTheChecks) {
  const fs::path input = dir_.Path() / "in";
  SparseFile(input, 4 + 4 * kGiB, {{0, {0xFF, 0xFF, 0xFF, 0xFF}}});
  fs::create_directory(dir_.Path() / "in.bf");
  EXPECT_EQ(FileDecrypt(input), STATUS_CANNOT_WRITE_OUTPUT);
  EXPECT_TRUE(fs::is_directory(dir_.Path() / "in.bf"));
}

}  // namespace
}  // namespace corvane
