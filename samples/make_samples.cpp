// Writes the sample files of `make run`: every format the scanner reads, built
// from the same field-by-field builders as the tests.

#include <cstdio>
#include <filesystem>

#include "samples.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make-samples DIRECTORY\n");
        return 2;
    }
    const std::filesystem::path root = argv[1];
    std::filesystem::create_directories(root);
    kestrel::samples::WriteClassificationSamples(root);
    std::filesystem::create_directories(root / "NETWARE");
    kestrel::samples::WriteNetWareSamples(root / "NETWARE");
    return 0;
}
