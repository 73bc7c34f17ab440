// The floor of a no-op sync: lists each directory given and reads every
// link in it once with readlinkat, on one thread. Prints the number of
// links read.
// Usage: link_floor dir...
#define _GNU_SOURCE
#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

int main(int argc, char** argv) {
    long links = 0;
    char buf[PATH_MAX];
    for (int i = 1; i < argc; ++i) {
        DIR* dir = opendir(argv[i]);
        if (dir == NULL) continue;
        int fd = dirfd(dir);
        struct dirent* entry;
        while ((entry = readdir(dir)) != NULL) {
            if (strcmp(entry->d_name, ".") == 0 || strcmp(entry->d_name, "..") == 0) continue;
            if (readlinkat(fd, entry->d_name, buf, sizeof buf) >= 0) ++links;
        }
        closedir(dir);
    }
    printf("%ld\n", links);
    return 0;
}
