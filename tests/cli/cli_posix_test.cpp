// What only a native run can show: the terminal (prompt without echo, progress bar),
// the peak memory of large files, interruption, and the limits of the format.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
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
  const std::string full = "corvane: standard output: cannot write: no space left on the device\n";
  ProcessResult r = Run({"encrypt-text", "text"}, request);
  EXPECT_EQ(r.exitCode, 6);
  EXPECT_EQ(r.err, full);
  request.input = "data";
  request.stdinMode = StdinMode::kPipe;
  r = Run({"encrypt-file", "-"}, request);
  EXPECT_EQ(r.exitCode, 6);
  EXPECT_EQ(r.err, full);
  // Text that is not the tool's main output is checked as well.
  {
    std::FILE* f = std::fopen((dir_.Path() / "h.bf").c_str(), "wb");
    std::fwrite("\x01\0\0\0abcdefgh", 1, 12, f);
    std::fclose(f);
  }
  request.stdinMode = StdinMode::kNull;
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"inspect", "h.bf"}, {"inspect", "--json", "h.bf"}, {"--help"}, {"decrypt-file", "--help"}, {"--version"}}) {
    SCOPED_TRACE(args[0] + " " + args[1 % args.size()]);
    r = Run(args, request);
    EXPECT_EQ(r.exitCode, 6);
    EXPECT_EQ(r.err, full);
  }
}

// ---- inputs that are not regular files ----

TEST_F(CliNative, FifosAsInputAreRefusedWithoutWaiting) {
  ASSERT_EQ(::mkfifo((dir_.Path() / "fifo").c_str(), 0600), 0);
  ProcessRequest request;
  request.env["CORVANE_KEY"] = "k";
  request.timeoutSeconds = 10;
  const std::string cause = ": it is not a regular file but a device, a FIFO or a socket\n";
  ProcessResult r = Run({"encrypt-file", "fifo"}, request);
  EXPECT_EQ(r.exitCode, 4);
  EXPECT_EQ(r.err, "corvane: fifo: cannot open the input file" + cause);
  r = Run({"inspect", "fifo"}, request);
  EXPECT_EQ(r.exitCode, 4);
  // A device reads as endless (or no) data: refused the same way.
  r = Run({"encrypt-file", "/dev/zero", "-o", "zero.bf"}, request);
  EXPECT_EQ(r.exitCode, 4);
  EXPECT_EQ(r.err, "corvane: /dev/zero: cannot open the input file" + cause);
  EXPECT_EQ(Names(), std::vector<std::string>{"fifo"});
}

// A key may come from a secret manager through a pipe: `-k <(pass show x)`, or a FIFO.
// It is read to its end, up to the size limit.
TEST_F(CliNative, KeysComeFromPipesAndFifos) {
  ASSERT_EQ(::mkfifo((dir_.Path() / "fifo").c_str(), 0600), 0);
  std::thread writer([path = dir_.Path() / "fifo"] {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return;
    std::fputs("fifo key\n", f);
    std::fclose(f);
  });
  ProcessRequest request;
  request.timeoutSeconds = 20;
  ProcessResult r = Run({"encrypt-text", "-k", "fifo", "text"}, request);
  writer.join();
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, ComponentText("fifo key", "text") + "\n");
  EXPECT_EQ(r.err, "");
  // A descriptor of the process's own, as bash's <(...) gives: standard input here.
  request.input = "piped key\n";
  request.stdinMode = StdinMode::kPipe;
  r = Run({"encrypt-text", "-k", "/dev/stdin", "text"}, request);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, ComponentText("piped key", "text") + "\n");
  // An endless source stops at the limit.
  r = Run({"encrypt-text", "-k", "/dev/zero", "text"}, request);
  EXPECT_EQ(r.exitCode, 3);
  EXPECT_EQ(r.err, "corvane: /dev/zero: the key file is larger than 64 KiB; it should hold the key on its first line\n");
}

// ---- closed standard streams ----

// With descriptor 1 closed, no file of the tool's own (the spool of a pipe's ciphertext)
// may become its standard output: the output is lost, and that is exit code 6.
TEST_F(CliNative, AClosedStandardOutputFailsWithCode6) {
  for (std::size_t size : {std::size_t{100}, std::size_t{3} << 20}) {
    SCOPED_TRACE(size);
    ProcessRequest request;
    request.env["CORVANE_KEY"] = "k";
    request.input.assign(size, 'x');
    request.stdinMode = StdinMode::kPipe;
    request.stdoutClosed = true;
    const ProcessResult r = Run({"encrypt-file", "-q", "-"}, request);
    EXPECT_EQ(r.exitCode, 6) << r.err;
    EXPECT_EQ(r.err.rfind("corvane: standard output: cannot write: ", 0), 0u) << r.err;
  }
  // A closed standard input is an empty one.
  ProcessRequest request;
  request.env["CORVANE_KEY"] = "k";
  request.stdinClosed = true;
  const ProcessResult r = Run({"encrypt-text"}, request);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "");
}

// ---- replacing files ----

mode_t ModeOf(const fs::path& path) {
  struct stat info;
  EXPECT_EQ(::lstat(path.c_str(), &info), 0);
  return info.st_mode & 07777;
}

TEST_F(CliNative, ReplacedFilesKeepTheirModeAndLinksAreNotReplaced) {
  std::FILE* f = std::fopen((dir_.Path() / "secret").c_str(), "wb");
  std::fputs("plaintext", f);
  std::fclose(f);
  ProcessRequest request;
  request.env["CORVANE_KEY"] = "k";
  ASSERT_EQ(Run({"encrypt-file", "secret"}, request).exitCode, 0);
  // The decrypted file replaces a 0600 file: it must not become readable by others.
  f = std::fopen((dir_.Path() / "plain").c_str(), "wb");
  std::fclose(f);
  ASSERT_EQ(::chmod((dir_.Path() / "plain").c_str(), 0600), 0);
  ProcessResult r = Run({"decrypt-file", "secret.bf", "-o", "plain"}, request);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(ModeOf(dir_.Path() / "plain"), mode_t{0600});
  EXPECT_EQ(fs::file_size(dir_.Path() / "plain"), 9u);

  fs::create_symlink("secret", dir_.Path() / "link");
  r = Run({"decrypt-file", "secret.bf", "-o", "link"}, request);
  EXPECT_EQ(r.exitCode, 6);
  EXPECT_EQ(r.err,
            "corvane: link: cannot replace the output file: it is a symbolic link (name the file it points to "
            "instead); it was left as it was\n");
  EXPECT_TRUE(fs::is_symlink(dir_.Path() / "link"));
  EXPECT_EQ(fs::file_size(dir_.Path() / "secret"), 9u);
  EXPECT_EQ(Names(), (std::vector<std::string>{"link", "plain", "secret", "secret.bf"}));
}

// The new content reaches the disk before it takes the target's name, and the folder
// after: a crash leaves the old file or the new one, never an empty or partial one.
TEST_F(CliNative, TheOutputIsFlushedBeforeItReplacesTheTarget) {
  if (::access("/usr/bin/strace", X_OK) != 0) {
    GTEST_SKIP() << "strace is not installed";
  }
  std::FILE* f = std::fopen((dir_.Path() / "in").c_str(), "wb");
  std::fputs("plaintext", f);
  std::fclose(f);
  ProcessRequest request;
  request.env["CORVANE_KEY"] = "k";
  request.env["ASAN_OPTIONS"] = "detect_leaks=0";  // the leak checker cannot run under a tracer
  const std::string traceFile = (dir_.Path() / "trace").string();
  request.args = {"-f", "-o", traceFile, "-e", "trace=fsync,fdatasync,rename,renameat,renameat2",
                  CORVANE_CLI_PATH, "encrypt-file", "in"};
  request.workDir = dir_.Path();
  const ProcessResult r = test::RunProcess("/usr/bin/strace", request);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  std::string trace;
  f = std::fopen(traceFile.c_str(), "rb");
  for (int c; (c = std::fgetc(f)) != EOF;) trace += static_cast<char>(c);
  std::fclose(f);
  const std::size_t rename = trace.find("rename");
  ASSERT_NE(rename, std::string::npos) << trace;
  EXPECT_NE(trace.find("in.bf\"", rename), std::string::npos) << trace;
  const std::size_t before = trace.rfind("fsync(", rename);
  EXPECT_NE(before, std::string::npos) << "no flush before the rename:\n" << trace;
  EXPECT_NE(trace.find("fsync(", rename), std::string::npos) << "the folder is not flushed after it:\n" << trace;
}

// ---- text of other programs ----

// inspect --json writes valid JSON for every name, whatever bytes a Linux file name holds.
TEST_F(CliNative, InspectJsonIsValidJsonForAnyFileName) {
  const std::vector<std::string> names = {
      "plain.bf",
      "\xE6\x97\xA5\xE6\x9C\xAC.bf",  // valid UTF-8: kept as it is
      "overlong-\xC0\x80.bf",         // an overlong NUL
      "overlong3-\xE0\x80\xAF.bf",    // an overlong '/'
      "surrogate-\xED\xA0\x80.bf",    // U+D800
      "beyond-\xF4\x90\x80\x80.bf",   // U+110000
      "f5-\xF5\x80\x80\x80.bf",
      "cut-\xE6\x97.bf",  // a sequence that ends too soon
      "lone-\x80-\xFF.bf",
      "quote\"back\\slash\x01.bf",
  };
  std::vector<std::string> args = {"inspect", "--json"};
  for (const std::string& name : names) {
    std::FILE* f = std::fopen((dir_.Path() / name).c_str(), "wb");
    ASSERT_NE(f, nullptr) << name;
    std::fwrite("\0\0\0\0", 1, 4, f);
    std::fclose(f);
    args.push_back(name);
  }
  ProcessResult r = Run(args);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  std::FILE* f = std::fopen((dir_.Path() / "lines.json").c_str(), "wb");
  std::fwrite(r.out.data(), 1, r.out.size(), f);
  std::fclose(f);
  // Python's own parser, strict about UTF-8, reads every line; the names come back with
  // U+FFFD for each byte that is not part of a valid character.
  ProcessRequest check;
  check.args = {"-c",
                "import json, sys\n"
                "lines = open(sys.argv[1], 'rb').read().splitlines()\n"
                "print('|'.join(json.loads(line)['file'] for line in lines).encode('utf-8').hex())\n",
                (dir_.Path() / "lines.json").string()};
  check.args.insert(check.args.begin(), "python3");
  r = test::RunProcess("/usr/bin/env", check);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  std::string expected;
  const std::string fffd = "\xEF\xBF\xBD";
  const std::vector<std::string> decoded = {
      "plain.bf",
      "\xE6\x97\xA5\xE6\x9C\xAC.bf",
      "overlong-" + fffd + fffd + ".bf",
      "overlong3-" + fffd + fffd + fffd + ".bf",
      "surrogate-" + fffd + fffd + fffd + ".bf",
      "beyond-" + fffd + fffd + fffd + fffd + ".bf",
      "f5-" + fffd + fffd + fffd + fffd + ".bf",
      "cut-" + fffd + fffd + ".bf",
      "lone-" + fffd + "-" + fffd + ".bf",
      "quote\"back\\slash\x01.bf",
  };
  for (const std::string& name : decoded) expected += (expected.empty() ? "" : "|") + name;
  std::string hex;
  for (unsigned char c : expected) {
    static const char digits[] = "0123456789abcdef";
    hex += digits[c >> 4];
    hex += digits[c & 15];
  }
  EXPECT_EQ(r.out, hex + "\n");
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

TEST_F(CliNative, FilesBeyondWhatTheHeaderCanStateAreRefused) {
  SparseFile(dir_.Path() / "huge", std::uint64_t{1} << 32);  // 4 GiB: one byte too many
  ProcessRequest request;
  request.env["CORVANE_KEY"] = "k";
  const ProcessResult r = Run({"encrypt-file", "huge"}, request);
  EXPECT_EQ(r.exitCode, 5);
  EXPECT_EQ(r.err,
            "corvane: huge: is larger than 4 GiB - 1 bytes, the most the 4-byte length header of an encrypted file "
            "can state\n");
  EXPECT_EQ(Names(), std::vector<std::string>{"huge"});
}

TEST_F(CliNative, TextLinesAreLimitedTo64MiB) {
  ProcessRequest request;
  request.env["CORVANE_KEY"] = "k";
  request.input.assign(64 * kMiB + 1, 'a');
  request.stdinMode = StdinMode::kPipe;
  ProcessResult r = Run({"encrypt-text"}, request);
  EXPECT_EQ(r.exitCode, 5);
  EXPECT_EQ(r.err, "corvane: standard input, line 1: the line is longer than 64 MiB\n");
  EXPECT_EQ(r.out, "");
  // The limit is the text's on both sides: the longest text comes back.
  request.input.assign(64 * kMiB, 'a');
  r = Run({"encrypt-text"}, request);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  request.input = r.out;
  r = Run({"decrypt-text"}, request);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out.size(), 64 * kMiB + 1);
}

// Interrupted while writing to standard output: the message says how much went there.
TEST_F(CliNative, AnInterruptionSaysHowMuchWentToStandardOutput) {
  ProcessRequest request;
  request.env["CORVANE_KEY"] = "k";
  request.input.resize(16 * kMiB);
  for (std::size_t i = 0; i < request.input.size(); ++i)  // blocks that differ: line ends soon
    request.input[i] = static_cast<char>(i ^ (i >> 8) ^ (i >> 16));
  request.stdinMode = StdinMode::kFile;
  request.interactive = true;  // nobody reads standard output until the end
  request.args = {"encrypt-file", "-q", "-"};
  request.workDir = dir_.Path();
  test::ChildProcess child(fs::path(CORVANE_CLI_PATH), request);
  const std::string begun = child.ReadOutputLine(20000);
  EXPECT_FALSE(begun.empty()) << "it has begun to write";
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  child.Interrupt();
  const ProcessResult r = child.Wait();
  EXPECT_EQ(r.exitCode, 130) << r.err;
  EXPECT_EQ(r.err, "corvane: interrupted; no output file was changed; " + std::to_string(begun.size() + r.out.size()) +
                       " bytes had gone to standard output\n");
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

// ---- locale and code pages ----

// glibc's tables for these code pages lack bytes that Windows maps (0x81 in 1252, 0x80
// in 932) and map by a best fit characters that Windows refuses (U+00A5 as '\' in 932);
// the tool follows Windows, as the component converts there. The Windows tests compare
// the same anchors with the component itself.
constexpr char kC1Controls1252[] = "Uckp0msrwUg=";  // U+0081 U+008D U+008F U+0090 U+009D
constexpr char kControl80In932[] = "kW79dYAdtLs=";  // U+0080

TEST_F(CliNative, WindowsCodePagesGiveTheComponentsBytes) {
  ProcessRequest request;
  request.env["CORVANE_KEY"] = "TESTKEY";
  request.env["LC_ALL"] = "C.UTF-8";
  struct Case {
    const char* encoding;
    std::string text;   // UTF-8
    std::string bytes;  // in the code page, as the component encrypts them
    bool readBack;      // whether the bytes decrypt to the text again
  };
  const Case cases[] = {
      {"cp1252", "\xC2\x81\xC2\x8D\xC2\x8F\xC2\x90\xC2\x9D", "\x81\x8D\x8F\x90\x9D", true},
      {"windows-1252", "caf\xC3\xA9 \xC2\x81", "caf\xE9 \x81", true},
      {"cp932", "\xC2\x80", "\x80", true},
      {"shift_jis", "\xE8\xA1\xA8\xC2\x80\\", "\x95\x5C\x80\\", true},  // 表, U+0080, a backslash
      {"cp932", "\xEF\xA3\xB0", "\xA0", false},                         // U+F8F0: Windows writes 0xA0, reads nothing
      // Code page 936's user-defined areas, private-use characters in Windows, none in glibc.
      {"cp936", "\xEE\x80\x80", "\xAA\xA1", true},                      // U+E000
      {"gbk", "a\xEE\x93\x86\xE4\xB8\xAD", "a\xA1\x40\xD6\xD0", true},  // U+E4C6 between a and 中
      {"cp936", "\xEE\x93\x85", "\xFE\xFE", true},                      // U+E4C5
      {"cp936", "\xEF\xA3\xB5", "\xFF", false},                         // U+F8F5: Windows writes 0xFF, reads nothing
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.encoding) + " " + c.text);
    const std::string ciphertext = ComponentText("TESTKEY", c.bytes);
    ProcessResult r = Run({"encrypt-text", "-e", c.encoding, c.text}, request);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, ciphertext + "\n");
    r = Run({"decrypt-text", "-e", c.encoding, ciphertext}, request);
    if (c.readBack) {
      EXPECT_EQ(r.exitCode, 0) << r.err;
      EXPECT_EQ(r.out, c.text + "\n");
    } else {
      EXPECT_EQ(r.exitCode, 9);
    }
  }
  EXPECT_EQ(ComponentText("TESTKEY", "\x81\x8D\x8F\x90\x9D"), kC1Controls1252);
  EXPECT_EQ(ComponentText("TESTKEY", "\x80"), kControl80In932);
  // Best fits glibc makes and Windows refuses: ¥, − (U+2212), 〜 (U+301C).
  for (const char* refused : {"\xC2\xA5", "\xE2\x88\x92", "\xE3\x80\x9C"}) {
    SCOPED_TRACE(refused);
    const ProcessResult r = Run({"encrypt-text", "-e", "cp932", refused}, request);
    EXPECT_EQ(r.exitCode, 9);
    EXPECT_EQ(r.err, "corvane: argument 1: the text has characters that cp932 cannot represent\n");
  }
}

// With --encoding, the key and the texts are read in the locale's character set: bytes
// that are not valid text in it are named as such, not as characters the encoding lacks.
TEST_F(CliNative, TextThatIsNotValidInTheLocaleSaysSo) {
  std::FILE* f = std::fopen((dir_.Path() / "key.txt").c_str(), "wb");
  std::fputs("cl\xE9\n", f);  // Latin-1, not UTF-8
  std::fclose(f);
  ProcessRequest request;
  request.env["LC_ALL"] = "C.UTF-8";
  ProcessResult r = Run({"encrypt-text", "-e", "cp1252", "-k", "key.txt", "x"}, request);
  EXPECT_EQ(r.exitCode, 9);
  EXPECT_EQ(r.err, "corvane: key.txt: the key is not valid text in UTF-8, the locale's character set\n");
  request.env["CORVANE_KEY"] = "k";
  r = Run({"encrypt-text", "-e", "cp1252", "caf\xE9"}, request);
  EXPECT_EQ(r.exitCode, 9);
  EXPECT_EQ(r.err, "corvane: argument 1: the text is not valid text in UTF-8, the locale's character set\n");
}

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
