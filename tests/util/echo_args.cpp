// Test helper: writes each argument it received, as the C runtime split its command line, on a
// line of its own (UTF-8), so a test sees exactly what a started program gets.
#include <cstdio>

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) std::printf("%s\n", argv[i]);
    return argc > 1 ? 0 : 3;
}
