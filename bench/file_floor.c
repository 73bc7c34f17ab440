// The floor of a command that reads some files whole and replaces others:
// reads each file given after "read" to its end, and writes the bytes of
// each file given after "write" to a new file beside it (".floor" added),
// fsyncs it and renames it over a copy of that name, as an atomic write
// does. Prints the number of bytes read and written.
// Usage: file_floor [read FILE...] [write FILE...]
#define _GNU_SOURCE
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static char buf[1 << 16];

// Reads the whole file; with `out` open, copies it there as it goes.
static long copy(const char* path, int out) {
    int fd = open(path, O_RDONLY);
    if (fd < 0) return 0;
    long total = 0;
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0) {
        total += n;
        if (out >= 0 && write(out, buf, (size_t)n) != n) exit(2);
    }
    close(fd);
    return total;
}

int main(int argc, char** argv) {
    long bytes = 0;
    int writing = 0;
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "read") == 0 || strcmp(argv[i], "write") == 0) {
            writing = strcmp(argv[i], "write") == 0;
            continue;
        }
        if (!writing) {
            bytes += copy(argv[i], -1);
            continue;
        }
        char temp[4096], final[4096];
        snprintf(temp, sizeof temp, "%s.floor.tmp", argv[i]);
        snprintf(final, sizeof final, "%s.floor", argv[i]);
        int out = open(temp, O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (out < 0) return 2;
        bytes += copy(argv[i], out);
        if (fsync(out) != 0 || close(out) != 0 || rename(temp, final) != 0) return 2;
    }
    printf("%ld\n", bytes);
    return 0;
}
