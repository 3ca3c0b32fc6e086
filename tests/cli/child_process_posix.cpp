#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <thread>

#include "tests/cli/child_process.h"

extern char** environ;

namespace corvane::test {
namespace {

int TemporaryDescriptor() {
  const char* folder = std::getenv("TMPDIR");
  std::string pattern = std::string(folder != nullptr && *folder != '\0' ? folder : "/tmp") + "/corvane-child-XXXXXX";
  const int fd = ::mkostemp(&pattern[0], O_CLOEXEC);
  if (fd < 0) throw std::runtime_error("mkostemp failed");
  ::unlink(pattern.c_str());
  return fd;
}

void WriteAll(int fd, const std::string& data) {
  const char* p = data.data();
  std::size_t n = data.size();
  while (n != 0) {
    const ssize_t done = ::write(fd, p, n);
    if (done < 0) {
      if (errno == EINTR) continue;
      return;  // the child stopped reading: the rest does not matter
    }
    p += done;
    n -= static_cast<std::size_t>(done);
  }
}

std::string ReadAllFrom(int fd) {
  std::string text;
  ::lseek(fd, 0, SEEK_SET);
  char buffer[65536];
  for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<std::size_t>(n));
  return text;
}

}  // namespace

struct ChildProcess::State {
  pid_t pid = -1;
  int in = -1, out = -1, err = -1, master = -1;
  int inputPipe = -1, outputPipe = -1;  // interactive: the parent's ends
  bool outputIsPipe = false;
  std::vector<std::pair<std::string, std::string>> dialogue;
  std::string peakFile;
  int timeoutSeconds = 60;
  bool waited = false;
  ProcessResult result;
};

ChildProcess::ChildProcess(const std::filesystem::path& program, const ProcessRequest& request) : state_(new State) {
  ::signal(SIGPIPE, SIG_IGN);  // a child that stops reading must not end the test
  State& s = *state_;
  s.dialogue = request.dialogue;
  s.timeoutSeconds = request.timeoutSeconds;
  int childOut = -1;
  if (request.interactive) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe2 failed");
    s.outputPipe = fds[0];
    s.out = childOut = fds[1];
    s.outputIsPipe = true;
  } else {
    s.out = request.stdoutPath.empty() ? TemporaryDescriptor()
                                       : ::open(request.stdoutPath.c_str(), O_WRONLY | O_CLOEXEC);
  }
  if (s.out < 0) throw std::runtime_error("cannot open " + request.stdoutPath);
  s.err = TemporaryDescriptor();
  int closedPipe = -1;  // the writing end of a pipe nobody reads
  if (request.stdoutClosedPipe) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe2 failed");
    ::close(fds[0]);
    closedPipe = fds[1];
  }
  int pipeWrite = -1;
  if (request.interactive && request.stdinMode == StdinMode::kPipe) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe2 failed");
    s.in = fds[0];
    s.inputPipe = fds[1];
  } else switch (request.stdinMode) {
    case StdinMode::kNull:
      s.in = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
      break;
    case StdinMode::kFile:
      s.in = TemporaryDescriptor();
      WriteAll(s.in, request.input);
      ::lseek(s.in, 0, SEEK_SET);
      break;
    case StdinMode::kNamedFile:
      s.in = ::open(request.stdinPath.c_str(), O_RDONLY | O_CLOEXEC);
      if (s.in < 0) throw std::runtime_error("cannot open " + request.stdinPath.string());
      break;
    case StdinMode::kPipe: {
      int fds[2];
      if (::pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe2 failed");
      s.in = fds[0];
      pipeWrite = fds[1];
      break;
    }
  }
  std::string slaveName;
  if (request.stdinTerminal || request.stdoutTerminal || request.stderrTerminal) {
    s.master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (s.master < 0 || ::grantpt(s.master) != 0 || ::unlockpt(s.master) != 0)
      throw std::runtime_error("no pseudo-terminal");
    slaveName = ::ptsname(s.master);
  }

  // Everything the child needs is prepared before fork: it only calls system functions.
  std::vector<std::string> args{program.string()};
  if (!request.peakMemoryProbe.empty()) {
    char pattern[] = "/tmp/corvane-peak-XXXXXX";
    const int fd = ::mkstemp(pattern);
    if (fd < 0) throw std::runtime_error("mkstemp failed");
    ::close(fd);
    s.peakFile = pattern;
    args = {request.peakMemoryProbe, s.peakFile, program.string()};
  }
  args.insert(args.end(), request.args.begin(), request.args.end());
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(&a[0]);
  argv.push_back(nullptr);
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry(*e);
    const std::string name = entry.substr(0, entry.find('='));
    if (name != "CORVANE_KEY" && request.env.count(name) == 0) env.push_back(entry);
  }
  for (const auto& [name, value] : request.env)
    if (value) env.push_back(name + "=" + *value);
  std::vector<char*> envp;
  for (std::string& e : env) envp.push_back(&e[0]);
  envp.push_back(nullptr);
  const std::string workDir = request.workDir.string();
  const rlimit addressSpace{static_cast<rlim_t>(request.addressSpaceLimit),
                           static_cast<rlim_t>(request.addressSpaceLimit)};
  const bool inTty = request.stdinTerminal, outTty = request.stdoutTerminal, errTty = request.stderrTerminal;
  const bool inClosed = request.stdinClosed, outClosed = request.stdoutClosed;

  s.pid = ::fork();
  if (s.pid < 0) throw std::runtime_error("fork failed");
  if (s.pid == 0) {
    ::setsid();  // no controlling terminal, unless the pseudo-terminal becomes it
    int slave = -1;
    if (!slaveName.empty()) {
      slave = ::open(slaveName.c_str(), O_RDWR | O_CLOEXEC);
      if (slave < 0 || ::ioctl(slave, TIOCSCTTY, 0) != 0) ::_exit(126);
    }
    ::dup2(inTty ? slave : s.in, 0);
    ::dup2(outTty ? slave : closedPipe >= 0 ? closedPipe : s.out, 1);
    ::signal(SIGPIPE, SIG_DFL);  // as a shell starts a program
    ::dup2(errTty ? slave : s.err, 2);
    if (outClosed) ::close(1);
    if (inClosed) ::close(0);
    if (!workDir.empty() && ::chdir(workDir.c_str()) != 0) ::_exit(126);
    if (addressSpace.rlim_cur != 0 && ::setrlimit(RLIMIT_AS, &addressSpace) != 0) ::_exit(126);
    ::execve(argv[0], argv.data(), envp.data());
    ::_exit(127);
  }
  if (closedPipe >= 0) ::close(closedPipe);
  if (childOut >= 0) {
    ::close(childOut);
    s.out = -1;
  }
  if (s.inputPipe >= 0) {
    ::close(s.in);
    s.in = -1;
  }
  if (pipeWrite >= 0) {
    ::close(s.in);
    s.in = -1;
    WriteAll(pipeWrite, request.input);
    ::close(pipeWrite);
  }
}

ChildProcess::~ChildProcess() {
  State& s = *state_;
  if (!s.waited && s.pid > 0) {
    ::kill(s.pid, SIGKILL);
    ::waitpid(s.pid, nullptr, 0);
  }
  for (int fd : {s.in, s.out, s.err, s.master, s.inputPipe, s.outputPipe})
    if (fd >= 0) ::close(fd);
  delete state_;
}

void ChildProcess::SendInput(const std::string& data) {
  if (state_->inputPipe >= 0) WriteAll(state_->inputPipe, data);
}

void ChildProcess::CloseInput() {
  if (state_->inputPipe >= 0) ::close(state_->inputPipe);
  state_->inputPipe = -1;
}

std::string ChildProcess::ReadOutputLine(int timeoutMs) {
  std::string line;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (state_->outputPipe >= 0 && (line.empty() || line.back() != '\n')) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd p{state_->outputPipe, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
    char c = 0;
    if (::read(state_->outputPipe, &c, 1) != 1) break;
    line += c;
  }
  return line;
}

void ChildProcess::Interrupt() {
  if (!state_->waited && state_->pid > 0) ::kill(state_->pid, SIGINT);
}

ProcessResult ChildProcess::Wait() {
  State& s = *state_;
  if (s.waited) return s.result;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(s.timeoutSeconds);
  std::size_t nextLine = 0, searchFrom = 0;
  int status = 0;
  bool ended = false;
  while (!ended) {
    if (s.master >= 0) {
      pollfd p{s.master, POLLIN, 0};
      if (::poll(&p, 1, 20) > 0) {
        char buffer[4096];
        const ssize_t n = ::read(s.master, buffer, sizeof buffer);
        if (n > 0) s.result.terminal.append(buffer, static_cast<std::size_t>(n));
      }
      if (nextLine < s.dialogue.size()) {
        const std::size_t at = s.result.terminal.find(s.dialogue[nextLine].first, searchFrom);
        if (at != std::string::npos) {
          searchFrom = at + s.dialogue[nextLine].first.size();
          WriteAll(s.master, s.dialogue[nextLine].second);
          ++nextLine;
        }
      }
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    const pid_t done = ::waitpid(s.pid, &status, WNOHANG);
    if (done == s.pid) ended = true;
    if (!ended && std::chrono::steady_clock::now() > deadline) {
      ::kill(s.pid, SIGKILL);
      ::waitpid(s.pid, &status, 0);
      s.result.err += "\n<killed after " + std::to_string(s.timeoutSeconds) + " s>";
      ended = true;
    }
  }
  if (s.master >= 0) {
    // What the child wrote last; the terminal reports EIO once it is gone.
    for (;;) {
      pollfd p{s.master, POLLIN, 0};
      if (::poll(&p, 1, 0) <= 0) break;
      char buffer[4096];
      const ssize_t n = ::read(s.master, buffer, sizeof buffer);
      if (n <= 0) break;
      s.result.terminal.append(buffer, static_cast<std::size_t>(n));
    }
  }
  s.waited = true;
  s.result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  if (!s.peakFile.empty()) {
    if (std::FILE* f = std::fopen(s.peakFile.c_str(), "r")) {
      if (std::fscanf(f, "%ld", &s.result.peakMemoryKiB) != 1) s.result.peakMemoryKiB = -1;
      std::fclose(f);
    }
    ::unlink(s.peakFile.c_str());
  }
  if (s.outputIsPipe) {
    CloseInput();
    char buffer[65536];
    for (ssize_t n; (n = ::read(s.outputPipe, buffer, sizeof buffer)) > 0;)
      s.result.out.append(buffer, static_cast<std::size_t>(n));
  } else {
    s.result.out = ReadAllFrom(s.out);
  }
  s.result.err += ReadAllFrom(s.err);
  return s.result;
}

}  // namespace corvane::test
