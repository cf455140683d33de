// A tiny program that the build stamps with a version block; the version
// reader's test reads the block back and runs the program to see that the
// stamping left it working.
#include <cstdio>

int main() {
    std::puts("stamped probe runs");
    return 0;
}
