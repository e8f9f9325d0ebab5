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
    for (const char* folder : {"NETWARE", "WINDOWS"})
        std::filesystem::create_directories(root / folder);
    kestrel::samples::WriteClassificationSamples(root);
    kestrel::samples::WriteNetWareSamples(root / "NETWARE");
    kestrel::samples::WriteWindowsSamples(root / "WINDOWS");
    return 0;
}
