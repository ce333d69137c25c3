// Runs a program as a process of its own and writes its peak resident memory (kB) and CPU time
// (s) to descriptor 3. A child forked from a benchmark counts the benchmark's memory into its
// peak, even once it runs another program; a child of this small one starts from its size.
#include <cstdio>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

int main(int argc, char** argv) {
  if (argc < 2 || fcntl(3, F_SETFD, FD_CLOEXEC) != 0)
    return 127;
  const pid_t child = fork();
  if (child == 0) {
    execv(argv[1], argv + 1);
    _exit(127);
  }
  int status = 0;
  struct rusage usage;
  if (child < 0 || wait4(child, &status, 0, &usage) != child)
    return 127;
  dprintf(3, "%ld %.6f\n", usage.ru_maxrss,
          (double) usage.ru_utime.tv_sec + 1e-6 * (double) usage.ru_utime.tv_usec + (double) usage.ru_stime.tv_sec +
              1e-6 * (double) usage.ru_stime.tv_usec);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
