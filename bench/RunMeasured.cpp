// Runs a command and prints "cpu-seconds peak-resident-kB wall-seconds wake-ups" of it alone
// (wake-ups: how often any of its threads slept and was woken, its voluntary context switches).
// The command is started from this small process, not from a script's interpreter: a child's
// peak resident size counts the memory of the process it was forked from until its exec, so an
// interpreter's own tens of megabytes would hide the command's.
// Usage: bench_run <command> [arguments...]   (its output goes to /dev/null)
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_run <command> [arguments...]\n");
        return 2;
    }
    timespec start{};
    clock_gettime(CLOCK_MONOTONIC, &start);
    const pid_t child = fork();
    if (child == 0) {
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO);
        dup2(null, STDERR_FILENO);
        execvp(argv[1], argv + 1);
        _exit(127);
    }
    if (child < 0) {
        std::perror("fork");
        return 1;
    }
    int status = 0;
    rusage usage{};
    if (wait4(child, &status, 0, &usage) != child) {
        std::perror("wait4");
        return 1;
    }
    timespec end{};
    clock_gettime(CLOCK_MONOTONIC, &end);
    const double cpu = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                       double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    const double wall =
        double(end.tv_sec - start.tv_sec) + double(end.tv_nsec - start.tv_nsec) / 1e9;
    std::printf("%.6f %ld %.6f %ld\n", cpu, usage.ru_maxrss, wall, usage.ru_nvcsw);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : 1;
}
