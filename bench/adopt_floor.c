// The floor of adopting a directory into the Commons: renames it there,
// then makes a link in its place and one at each further path given, all
// leading to its new place. Prints the number of links made.
// Usage: adopt_floor from to [link...]
#define _GNU_SOURCE
#include <stdio.h>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: adopt_floor from to [link...]\n");
        return 2;
    }
    if (rename(argv[1], argv[2]) != 0) {
        perror("rename");
        return 2;
    }
    int made = 0;
    for (int i = 1; i < argc; ++i) {
        if (i == 2) continue;
        if (symlink(argv[2], argv[i]) != 0) {
            perror("symlink");
            return 2;
        }
        ++made;
    }
    printf("%d\n", made);
    return 0;
}
