// The tool's console handler on Windows. Closing the console window, logoff and shutdown
// end the process as soon as the handler returns, before the running operation can
// clean up: the handler itself must remove the temporary output. Windows sends these
// events only to a real console, so a child process calls the handler as Windows would
// and is then ended as Windows ends it.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "cli/platform.h"
#include "crypt/file_io.h"
#include "tests/cli/child_process.h"
#include "tests/support/temp_dir.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;

constexpr char kChildVariable[] = "CORVANE_CONSOLE_CHILD";
constexpr UINT kEndedAsWindowsEndsIt = 0x7E;
constexpr unsigned long kNoEvent = 0xFFFF;

std::string Utf8(const std::wstring& text) {
  const int n =
      WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &bytes[0], n, nullptr, nullptr);
  return bytes;
}

// Writes part of a new "target" in the folder, lets the event reach the handler, and ends.
TEST(ConsoleClose, Child) {
  const char* setting = std::getenv(kChildVariable);
  if (setting == nullptr) {
    GTEST_SKIP() << "run by the test below";
  }
  const std::string value(setting);
  const std::size_t bar = value.rfind('|');
  const fs::path folder = fs::u8path(value.substr(0, bar));
  const unsigned long event = std::stoul(value.substr(bar + 1));
  AtomicOutputFile file;
  ASSERT_EQ(file.Create((folder / "target").c_str()), FileStatus::Ok);
  ASSERT_EQ(file.Write("new content", 11), FileStatus::Ok);
  cli::WatchOutput(&file);
  if (event != kNoEvent) {
    EXPECT_TRUE(cli::ConsoleControlHandler(event));
  }
  TerminateProcess(GetCurrentProcess(), kEndedAsWindowsEndsIt);
}

TEST(ConsoleClose, TheHandlerRemovesTheTemporaryOutputBeforeTheProcessEnds) {
  if (std::getenv(kChildVariable) != nullptr) {
    GTEST_SKIP();
  }
  wchar_t self[MAX_PATH];
  ASSERT_GT(GetModuleFileNameW(nullptr, self, MAX_PATH), 0u);
  struct Case {
    const char* name;
    unsigned long event;
    std::size_t filesLeft;  // the target and, without the handler, the temporary file
  };
  const Case cases[] = {{"console window closed", CTRL_CLOSE_EVENT, 1},
                        {"logoff", CTRL_LOGOFF_EVENT, 1},
                        {"shutdown", CTRL_SHUTDOWN_EVENT, 1},
                        {"no handler: what the handler prevents", kNoEvent, 2}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::TempDir dir;
    test::WriteFileBytes(dir.Path() / "target", {'o', 'l', 'd'});
    test::ProcessRequest request;
    request.args = {"--gtest_filter=ConsoleClose.Child"};
    request.env[kChildVariable] = Utf8(dir.Path().wstring()) + "|" + std::to_string(c.event);
    const test::ProcessResult r = test::RunProcess(fs::path(self), request);
    EXPECT_EQ(r.exitCode, static_cast<int>(kEndedAsWindowsEndsIt)) << r.out << r.err;
    EXPECT_EQ(dir.Names().size(), c.filesLeft);
    EXPECT_EQ(test::ReadFileBytes(dir.Path() / "target"), (std::vector<unsigned char>{'o', 'l', 'd'}));
  }
}

// Ctrl+C leaves the clean-up to the operation, which stops at its next check: the
// handler removes nothing, and a commit after it is refused.
TEST(ConsoleClose, AfterTheHandlerRemovedTheFileNothingIsReplaced) {
  if (std::getenv(kChildVariable) != nullptr) {
    GTEST_SKIP();
  }
  test::TempDir dir;
  test::WriteFileBytes(dir.Path() / "target", {'o', 'l', 'd'});
  AtomicOutputFile file;
  ASSERT_EQ(file.Create((dir.Path() / "target").c_str()), FileStatus::Ok);
  ASSERT_EQ(file.Write("new", 3), FileStatus::Ok);
  cli::WatchOutput(&file);
  EXPECT_TRUE(cli::ConsoleControlHandler(CTRL_C_EVENT));
  EXPECT_EQ(dir.Names().size(), 2u) << "Ctrl+C: the temporary file is the operation's to remove";
  EXPECT_TRUE(cli::ConsoleControlHandler(CTRL_CLOSE_EVENT));
  EXPECT_NE(cli::CommitWatchedOutput(file), FileStatus::Ok);
  EXPECT_TRUE(cli::Interrupted());
  EXPECT_EQ(dir.Names(), std::vector<std::string>{"target"});
  EXPECT_EQ(test::ReadFileBytes(dir.Path() / "target"), (std::vector<unsigned char>{'o', 'l', 'd'}));
}

}  // namespace
}  // namespace corvane
