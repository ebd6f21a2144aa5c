// pipe_stamp DATA INDEX: copies standard input to DATA and, for every read,
// appends "NANOSECONDS OFFSET LENGTH" to INDEX: the CLOCK_MONOTONIC time the
// bytes OFFSET..OFFSET+LENGTH arrived. Fed by pw-record, this ties each
// recorded sample to the clock the probe in the demo uses.
#define _GNU_SOURCE
#include <fcntl.h>
#include <stdio.h>
#include <time.h>
#include <unistd.h>

static int write_all(int fd, const char *data, size_t length)
{
    while (length > 0) {
        ssize_t done = write(fd, data, length);
        if (done < 0)
            return -1;
        data += done;
        length -= (size_t)done;
    }
    return 0;
}

int main(int argc, char **argv)
{
    if (argc != 3) {
        fprintf(stderr, "usage: pipe_stamp DATA INDEX < stream\n");
        return 2;
    }
    int data = open(argv[1], O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int index = open(argv[2], O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (data < 0 || index < 0) {
        perror("pipe_stamp");
        return 1;
    }
    static char buffer[1 << 16];
    long long offset = 0;
    for (;;) {
        ssize_t got = read(STDIN_FILENO, buffer, sizeof(buffer));
        struct timespec ts;
        clock_gettime(CLOCK_MONOTONIC, &ts);
        if (got <= 0)
            return got == 0 ? 0 : 1;
        // Written at once, not buffered: the recorder is stopped with a signal.
        if (write_all(data, buffer, (size_t)got) != 0 ||
            dprintf(index, "%lld %lld %zd\n", (long long)ts.tv_sec * 1000000000 + ts.tv_nsec, offset, got) < 0) {
            perror("pipe_stamp");
            return 1;
        }
        offset += got;
    }
}
