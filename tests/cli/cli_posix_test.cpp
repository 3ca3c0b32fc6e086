// What only a native run can show: the terminal (prompt without echo, progress bar),
// the peak memory of large files, interruption, and the limits of the format.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "crypt/helper_buffer.h"
#include "crypt/pemmet.h"
#include "crypt/string_cipher.h"
#include "tests/cli/child_process.h"
#include "tests/support/temp_dir.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;
using test::ProcessRequest;
using test::ProcessResult;
using test::StdinMode;

constexpr std::uint64_t kMiB = std::uint64_t{1} << 20;

std::string ComponentText(const std::string& key, const std::string& text) {
  CPemmet pemmet;
  HelperBuffer base64(pemmet);
  EXPECT_EQ(EncryptToBase64(pemmet, reinterpret_cast<const unsigned char*>(text.data()),
                            static_cast<std::uint32_t>(text.size()), reinterpret_cast<const unsigned char*>(key.data()),
                            static_cast<std::int32_t>(key.size()), base64.Receive()),
            0);
  return std::string(base64.Text());
}

// A file of `size` zero bytes that takes no disk space.
void SparseFile(const fs::path& path, std::uint64_t size) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(size)), 0);
  ::close(fd);
}

class CliNative : public ::testing::Test {
 protected:
  ProcessResult Run(const std::vector<std::string>& args, ProcessRequest request = {}) {
    request.args = args;
    request.workDir = dir_.Path();
    return test::RunProcess(fs::path(CORVANE_CLI_PATH), request);
  }
  std::vector<std::string> Names() {
    std::vector<std::string> names = dir_.Names();
    std::sort(names.begin(), names.end());
    return names;
  }

  test::TempDir dir_;
};

// ---- the terminal ----

TEST_F(CliNative, PromptReadsTheKeyTwiceWithoutEchoWhenEncrypting) {
  ProcessRequest request;
  request.stdinTerminal = true;
  request.dialogue = {{"Key: ", "typed secret\n"}, {"Repeat the key: ", "typed secret\n"}};
  const ProcessResult r = Run({"encrypt-text", "text"}, request);
  EXPECT_EQ(r.exitCode, 0) << r.err << r.terminal;
  EXPECT_EQ(r.out, ComponentText("typed secret", "text") + "\n");
  EXPECT_NE(r.terminal.find("Repeat the key: "), std::string::npos) << r.terminal;
  EXPECT_EQ(r.terminal.find("typed secret"), std::string::npos) << "echoed: " << r.terminal;
}

TEST_F(CliNative, PromptAsksOnceWhenDecryptingAndRefusesKeysThatDiffer) {
  ProcessRequest request;
  request.stdinTerminal = true;
  request.dialogue = {{"Key: ", "TESTKEY\n"}};
  ProcessResult r = Run({"decrypt-text", "BabcR7BJSc/uwpdNtHZBAg=="}, request);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "sixteen bytes!!!\n");
  EXPECT_EQ(r.terminal.find("Repeat"), std::string::npos);

  request.dialogue = {{"Key: ", "one\n"}, {"Repeat the key: ", "two\n"}};
  r = Run({"encrypt-file", "-", "-o", "out.bf"}, request);
  EXPECT_EQ(r.exitCode, 3);
  EXPECT_EQ(r.err, "corvane: the two keys entered differ\n");
  EXPECT_TRUE(Names().empty());
}

TEST_F(CliNative, ProgressBarOnlyOnATerminalAndNotWhenQuiet) {
  SparseFile(dir_.Path() / "big", 20 * kMiB);
  ProcessRequest request;
  request.env["CORVANE_KEY"] = "k";
  request.stderrTerminal = true;
  ProcessResult r = Run({"encrypt-file", "big"}, request);
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_NE(r.terminal.find("big ["), std::string::npos) << r.terminal;
  EXPECT_NE(r.terminal.find("% "), std::string::npos) << r.terminal;
  EXPECT_NE(r.terminal.find(" / 20.0 MiB"), std::string::npos) << r.terminal;
  EXPECT_EQ(fs::file_size(dir_.Path() / "big.bf"), 4 + 20 * kMiB);

  r = Run({"decrypt-file", "-q", "big.bf"}, request);
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.terminal, "");
  // A small file shows none either.
  std::FILE* f = std::fopen((dir_.Path() / "small").c_str(), "wb");
  std::fclose(f);
  r = Run({"encrypt-file", "small"}, request);
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.terminal, "");
}

TEST_F(CliNative, EncryptedDataIsNeverWrittenToATerminal) {
  ProcessRequest request;
  request.env["CORVANE_KEY"] = "k";
  request.stdoutTerminal = true;
  request.input = "data";
  request.stdinMode = StdinMode::kPipe;
  ProcessResult r = Run({"encrypt-file", "-"}, request);
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_NE(r.err.find("standard output: is a terminal"), std::string::npos) << r.err;
  EXPECT_EQ(r.terminal, "");
}

TEST_F(CliNative, UnwritableStandardOutputFailsWithCode6) {
  ProcessRequest request;
  request.env["CORVANE_KEY"] = "k";
  request.stdoutPath = "/dev/full";
  ProcessResult r = Run({"encrypt-text", "text"}, request);
  EXPECT_EQ(r.exitCode, 6);
  EXPECT_EQ(r.err, "corvane: standard output: cannot write\n");
  request.input = "data";
  request.stdinMode = StdinMode::kPipe;
  r = Run({"encrypt-file", "-"}, request);
  EXPECT_EQ(r.exitCode, 6);
  EXPECT_EQ(r.err, "corvane: standard output: cannot write the output\n");
}

// ---- size and memory ----

#ifndef CORVANE_SANITIZED
// Sanitizers change memory use and speed; these run in the plain native build.
// Whether the file holds `size` zero bytes, read in chunks.
bool AllZero(const fs::path& path, std::uint64_t size) {
  if (fs::file_size(path) != size) return false;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return false;
  std::vector<unsigned char> chunk(4 * kMiB);
  bool zero = true;
  for (std::size_t n; zero && (n = std::fread(chunk.data(), 1, chunk.size(), f)) != 0;)
    zero = std::all_of(chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(n), [](unsigned char c) { return c == 0; });
  std::fclose(f);
  return zero;
}

// The tool peaks at about 5 MiB here (2.7 MiB of it before any work); a file held
// whole would take 128 MiB.
constexpr long kMemoryCapKiB = 16 * 1024;

TEST_F(CliNative, LargeFilesStreamWithinTheMemoryCap) {
  const std::uint64_t size = 128 * kMiB + 3;
  SparseFile(dir_.Path() / "big", size);
  ProcessRequest request;
  request.env["CORVANE_KEY"] = "k";
  request.peakMemoryProbe = CORVANE_PEAK_MEMORY_PROBE;
  ProcessResult r = Run({"encrypt-file", "big"}, request);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_GT(r.peakMemoryKiB, 0);
  EXPECT_LT(r.peakMemoryKiB, kMemoryCapKiB);
  const std::uint64_t encryptedSize = 4 + (size + 7) / 8 * 8;
  EXPECT_EQ(fs::file_size(dir_.Path() / "big.bf"), encryptedSize);

  r = Run({"decrypt-file", "big.bf", "-o", "back"}, request);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_LT(r.peakMemoryKiB, kMemoryCapKiB);
  EXPECT_TRUE(AllZero(dir_.Path() / "back", size));

  // A pipe of unknown length goes through the spool, also within the cap.
  request.input.assign(32 * kMiB, 'x');
  request.stdinMode = StdinMode::kPipe;
  r = Run({"encrypt-file", "-", "-o", "piped.bf"}, request);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_LT(r.peakMemoryKiB, kMemoryCapKiB);
  EXPECT_EQ(fs::file_size(dir_.Path() / "piped.bf"), 4 + 32 * kMiB);
  EXPECT_EQ(Names(), (std::vector<std::string>{"back", "big", "big.bf", "piped.bf"}));
}

TEST_F(CliNative, ExhaustedMemoryFailsWithCode10) {
  // A 60 MiB line is within the text limit but not within 64 MiB of address space.
  ProcessRequest request;
  request.env["CORVANE_KEY"] = "k";
  request.input.assign(60 * kMiB, 'a');
  request.stdinMode = StdinMode::kPipe;
  request.addressSpaceLimit = 64 * kMiB;
  const ProcessResult r = Run({"encrypt-text"}, request);
  EXPECT_EQ(r.exitCode, 10);
  EXPECT_EQ(r.err, "corvane: out of memory\n");
  EXPECT_EQ(r.out, "");
}
#endif

TEST_F(CliNative, FilesBeyondWhatTheComponentReadsAreRefused) {
  SparseFile(dir_.Path() / "huge", 0x7FFFFFF9);  // 2 GiB - 7 bytes
  ProcessRequest request;
  request.env["CORVANE_KEY"] = "k";
  const ProcessResult r = Run({"encrypt-file", "huge"}, request);
  EXPECT_EQ(r.exitCode, 5);
  EXPECT_EQ(r.err,
            "corvane: huge: is larger than 2 GiB - 8 bytes, the most an encrypted file may hold for the component "
            "to read it back\n");
  EXPECT_EQ(Names(), std::vector<std::string>{"huge"});
}

TEST_F(CliNative, TextLinesAreLimitedTo64MiB) {
  ProcessRequest request;
  request.env["CORVANE_KEY"] = "k";
  request.input.assign(64 * kMiB + 1, 'a');
  request.stdinMode = StdinMode::kPipe;
  const ProcessResult r = Run({"encrypt-text"}, request);
  EXPECT_EQ(r.exitCode, 5);
  EXPECT_EQ(r.err, "corvane: standard input, line 1: the line is longer than 64 MiB\n");
  EXPECT_EQ(r.out, "");
}

// ---- interruption ----

TEST_F(CliNative, InterruptionLeavesTheOutputAsItWas) {
  SparseFile(dir_.Path() / "big", 1024 * kMiB);
  {
    std::FILE* f = std::fopen((dir_.Path() / "existing").c_str(), "wb");
    std::fputs("old", f);
    std::fclose(f);
  }
  ProcessRequest request;
  request.env["CORVANE_KEY"] = "k";
  request.args = {"encrypt-file", "big", "-o", "existing"};
  request.workDir = dir_.Path();
  test::ChildProcess child(fs::path(CORVANE_CLI_PATH), request);
  // Interrupt once the temporary output exists, well before a gibibyte is done.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (Names().size() < 3 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  ASSERT_EQ(Names().size(), 3u) << "no temporary file appeared";
  child.Interrupt();
  const ProcessResult r = child.Wait();
  EXPECT_EQ(r.exitCode, 130) << r.err;
  EXPECT_EQ(r.err, "corvane: interrupted; no output file was changed\n");
  EXPECT_EQ(Names(), (std::vector<std::string>{"big", "existing"}));
  EXPECT_EQ(fs::file_size(dir_.Path() / "existing"), 3u);
}

// ---- locale ----

TEST_F(CliNative, EncodingsReadTheCLocaleAsUtf8) {
  ProcessRequest request;
  request.env["CORVANE_KEY"] = "TESTKEY";
  request.env["LC_ALL"] = "C";
  const ProcessResult r = Run({"encrypt-text", "-e", "cp932", "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E"}, request);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "WUR8hkd18zM=\n");
}

}  // namespace
}  // namespace corvane
