// Writes the sample files of `make run` and of the golden-output test.

#include <cstdio>

#include "samples.h"

int main(int argc, char** argv) {
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: make-samples DIRECTORY [DESCRIPTIONS-FOLDER]\n");
        return 2;
    }
    if (argc == 3)
        kestrel::samples::WriteSamples(argv[1], argv[2]);
    else
        kestrel::samples::WriteSamples(argv[1]);
    return 0;
}
