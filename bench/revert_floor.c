// The floor of reverting an agent's links: lists each directory given,
// reads every entry once with readlinkat and removes each one that is a
// link with unlinkat, on one thread. Prints the number of links removed.
// Usage: revert_floor dir...
#define _GNU_SOURCE
#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

int main(int argc, char** argv) {
    long removed = 0;
    char buf[PATH_MAX];
    for (int i = 1; i < argc; ++i) {
        DIR* dir = opendir(argv[i]);
        if (dir == NULL) continue;
        int fd = dirfd(dir);
        struct dirent* entry;
        while ((entry = readdir(dir)) != NULL) {
            if (strcmp(entry->d_name, ".") == 0 || strcmp(entry->d_name, "..") == 0) continue;
            if (readlinkat(fd, entry->d_name, buf, sizeof buf) < 0) continue;
            if (unlinkat(fd, entry->d_name, 0) == 0) ++removed;
        }
        closedir(dir);
    }
    printf("%ld\n", removed);
    return 0;
}
