#pragma once

#include <string>
#include <vector>

#include "look_inside.h"
#include "records.h"
#include "report_sink.h"
#include "walk.h"

namespace kestrel {

// The exit statuses of kestrel-scan.
enum ExitStatus {
    kExitDone = 0,
    kExitReadOrWriteFailed = 1, // something could not be read or written; the rest went on
    kExitUsage = 2,
    kExitCancelled = 130, // Ctrl-C: 128 + SIGINT, as a shell reports it
    // The reader of standard output went away (a closed pipe): 128 + SIGPIPE,
    // what a shell reports for a program that SIGPIPE ended, so a pipeline
    // such as `kestrel-scan -r / | head` reads as usual under `set -o pipefail`.
    kExitReaderGone = 141,
};

enum class OutputFormat { kText, kJson, kCsv };
enum class ProgressMode { kAuto, kOn, kOff };

// Everything the command line asks for, checked and parsed.
struct ScanOptions {
    std::vector<std::string> paths;
    std::string filesFrom; // "" for none, "-" for standard input
    bool nullSeparated = false;
    WalkOptions walk;
    ReportLayout layout;
    OutputFormat format = OutputFormat::kText;
    std::vector<std::string> hashes; // digest algorithms, each once (JSON and CSV)
    int jobs = 1;
    ProgressMode progress = ProgressMode::kAuto;
    // -z: every file is tested for being a container, and the members of one
    // are reported as the patterns select them.
    bool lookInside = false;
    ContainerLimits containerLimits;
    // --reuse: the JSON Lines of an earlier run, whose records are copied
    // for the files that have not changed since ("" for none).
    std::string reuse;
};

// The most files scanned at a time; more threads than this only cost memory.
inline constexpr int kMaxJobs = 64;

// The number of processors this process may run on, at most kMaxJobs.
int DefaultJobCount();

// Scans what the options name, writes the output and says on standard error
// what could not be read or written. Returns the exit status.
int RunScan(const ScanOptions& options);

} // namespace kestrel
