// peak_memory_probe FILE PROGRAM [ARGS...]: runs PROGRAM and writes its peak resident
// memory in KiB to FILE; exits as PROGRAM did (128 + n for signal n).
//
// A test cannot read this from its own child: a forked child holds the test process's
// pages until it execs, and Linux keeps that high-water mark across exec. This probe
// is small when it forks, so its child's mark is the program's own.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc < 3) return 125;
  const pid_t pid = ::fork();
  if (pid < 0) return 125;
  if (pid == 0) {
    ::execv(argv[2], argv + 2);
    ::_exit(127);
  }
  int status = 0;
  rusage usage{};
  while (::wait4(pid, &status, 0, &usage) < 0) {
  }
  if (std::FILE* f = std::fopen(argv[1], "w")) {
    std::fprintf(f, "%ld\n", usage.ru_maxrss);
    std::fclose(f);
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
