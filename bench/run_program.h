#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace kestrel::bench {

struct ScanRun {
    bool succeeded = false;
    double seconds = 0;
    double cpuSeconds = 0; // user and system: what a shared machine's load does not change
    long peakRssKiB = 0;
};

// Runs a program (the first argument, looked for on PATH unless it holds a
// slash) with its standard output going to `output`, and waits for it: its
// wall and CPU time, its peak resident set, whether it exited with status 0.
ScanRun RunProgram(std::vector<std::string> arguments, const std::filesystem::path& output);

} // namespace kestrel::bench
