// Runs a program as a child process with chosen arguments, standard input and
// environment, and collects its exit code and output. POSIX and Windows.
#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace corvane::test {

enum class StdinMode {
  kNull,  // the null device: empty, and not a terminal
  kFile,  // a regular file holding the input (its size is known)
  kPipe,  // a pipe fed with the input (its size is not known)
  kNamedFile,  // the existing file at stdinPath, opened for reading (as a shell's "<")
};

struct ProcessRequest {
  // Arguments after the program: bytes on POSIX, UTF-8 on Windows (passed as UTF-16).
  std::vector<std::string> args;
  std::string input;
  StdinMode stdinMode = StdinMode::kNull;
  std::filesystem::path stdinPath;  // kNamedFile: the file to read
  // Variables to set (a value) or remove (no value). CORVANE_KEY is always removed from
  // the inherited environment first, so a developer's own key never leaks in.
  std::map<std::string, std::optional<std::string>> env;
  std::filesystem::path workDir;  // empty: the current folder
  // Standard output is a pipe whose reading end is already closed (a reader that went away).
  bool stdoutClosedPipe = false;
  // Standard output (and standard input, with StdinMode::kPipe) are pipes the test keeps:
  // it writes with SendInput and reads with ReadOutputLine while the child runs, as a
  // co-process is driven.
  bool interactive = false;
  // Wait() kills the child after this long.
  int timeoutSeconds = 60;
#ifndef _WIN32
  // POSIX only: connect these streams to a new pseudo-terminal, which becomes the
  // child's controlling terminal (the child never has one otherwise).
  bool stdinTerminal = false, stdoutTerminal = false, stderrTerminal = false;
  // With a terminal: each time the terminal's output shows the first text, the
  // second is typed.
  std::vector<std::pair<std::string, std::string>> dialogue;
  // POSIX only: standard output goes to this file instead (for example /dev/full).
  std::string stdoutPath;
  // POSIX only: the child starts with descriptor 1 (or 0 and 1) closed, as `>&-` does.
  bool stdoutClosed = false, stdinClosed = false;
  // POSIX only: the child's address space limit in bytes (RLIMIT_AS), 0 for none.
  unsigned long long addressSpaceLimit = 0;
  // POSIX only: fills ProcessResult::peakMemoryKiB, through the probe program at this path.
  std::string peakMemoryProbe;
#endif
};

struct ProcessResult {
  int exitCode = -1;  // 128 + signal number when a signal ended the child
  std::string out, err;
  std::string terminal;  // everything written to the pseudo-terminal (POSIX)
  long peakMemoryKiB = 0;  // the program's peak resident memory (POSIX, with a probe)
};

class ChildProcess {
 public:
  ChildProcess(const std::filesystem::path& program, const ProcessRequest& request);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Waits for the end (at most the request's timeout; then it is killed and the result
  // says so).
  ProcessResult Wait();
  // Interactive requests: writes to the child's standard input; reads its standard
  // output until a line end arrives or timeoutMs pass (what came so far); ends the input.
  void SendInput(const std::string& data);
  std::string ReadOutputLine(int timeoutMs);
  void CloseInput();
#ifndef _WIN32
  // Sends SIGINT, as Ctrl+C does.
  void Interrupt();
#endif

 private:
  struct State;
  State* state_;
};

inline ProcessResult RunProcess(const std::filesystem::path& program, const ProcessRequest& request) {
  ChildProcess child(program, request);
  return child.Wait();
}

}  // namespace corvane::test
