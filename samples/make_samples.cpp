// Writes the sample files of `make run` and of the golden-output test.

#include <cstdio>

#include "samples.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make-samples DIRECTORY\n");
        return 2;
    }
    kestrel::samples::WriteSamples(argv[1]);
    return 0;
}
