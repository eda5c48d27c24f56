// Runs one program and writes its wall time and peak memory to a file, for
// the site benchmark. The time is taken on the monotonic clock from just
// before the program is started to its end. The peak is the program's own
// maximum resident set as wait4 reports it; the program is started from this
// small process because a process started straight from the benchmark's
// Python would carry that interpreter's resident set into its own maximum.
//
//   quillant-measure-run RESULT_FILE PROGRAM [ARGUMENT...]
//
// RESULT_FILE gets "SECONDS PEAK_KB" on success. The program's output goes
// where ours goes; the exit status is the program's (127 when it could not
// be started).
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>

#include <cstdio>

extern char** environ;

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: quillant-measure-run RESULT_FILE PROGRAM [ARGUMENT...]\n");
    return 2;
  }
  timespec start{}, stop{};
  clock_gettime(CLOCK_MONOTONIC, &start);
  pid_t pid = 0;
  if (posix_spawnp(&pid, argv[2], nullptr, nullptr, argv + 2, environ) != 0) {
    std::perror(argv[2]);
    return 127;
  }
  int status = 0;
  rusage usage{};
  if (wait4(pid, &status, 0, &usage) != pid) {
    std::perror("wait4");
    return 127;
  }
  clock_gettime(CLOCK_MONOTONIC, &stop);
  const double seconds =
      static_cast<double>(stop.tv_sec - start.tv_sec) + static_cast<double>(stop.tv_nsec - start.tv_nsec) / 1e9;
  std::FILE* out = std::fopen(argv[1], "w");
  if (!out || std::fprintf(out, "%.6f %ld\n", seconds, usage.ru_maxrss) < 0 || std::fclose(out) != 0) {
    std::perror(argv[1]);
    return 127;
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}
