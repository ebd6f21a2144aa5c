// launch LOG PRELOAD PROGRAM [ARGS...]: notes the time just before it
// becomes PROGRAM, as an "exec NANOSECONDS" line (CLOCK_MONOTONIC) in LOG,
// then runs PROGRAM in its place with PRELOAD loaded into it and BENCH_LOG
// set to LOG, so the preloaded probe appends to the same file.
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

int main(int argc, char **argv)
{
    if (argc < 4) {
        fprintf(stderr, "usage: launch LOG PRELOAD PROGRAM [ARGS...]\n");
        return 2;
    }
    if (setenv("BENCH_LOG", argv[1], 1) != 0 || setenv("LD_PRELOAD", argv[2], 1) != 0) {
        perror("launch: setenv");
        return 1;
    }
    int fd = open(argv[1], O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) {
        perror(argv[1]);
        return 1;
    }
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    char line[64];
    int length = snprintf(line, sizeof(line), "exec %lld\n", (long long)ts.tv_sec * 1000000000 + ts.tv_nsec);
    if (write(fd, line, (size_t)length) != length) {
        perror(argv[1]);
        return 1;
    }
    close(fd);
    execv(argv[3], argv + 3);
    fprintf(stderr, "launch: cannot run %s: %s\n", argv[3], strerror(errno));
    return 127;
}
