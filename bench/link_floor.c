// The floor of a no-op sync: lists each directory given and reads every
// link in it once with readlinkat, on one thread. With --remove first, the
// floor of reverting an agent's links: each link read is also removed with
// unlinkat. Prints the number of links read (or removed).
// Usage: link_floor [--remove] dir...
#define _GNU_SOURCE
#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

int main(int argc, char** argv) {
    int first = 1;
    const int remove = argc > 1 && strcmp(argv[1], "--remove") == 0;
    if (remove) first = 2;
    long links = 0;
    char buf[PATH_MAX];
    for (int i = first; i < argc; ++i) {
        DIR* dir = opendir(argv[i]);
        if (dir == NULL) continue;
        int fd = dirfd(dir);
        struct dirent* entry;
        while ((entry = readdir(dir)) != NULL) {
            if (strcmp(entry->d_name, ".") == 0 || strcmp(entry->d_name, "..") == 0) continue;
            if (readlinkat(fd, entry->d_name, buf, sizeof buf) < 0) continue;
            if (!remove || unlinkat(fd, entry->d_name, 0) == 0) ++links;
        }
        closedir(dir);
    }
    printf("%ld\n", links);
    return 0;
}
