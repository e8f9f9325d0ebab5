// kestrel-scan over a whole collection, run as a user runs it: `--json -r`
// with -j 1 and -j 2 over 5,000, 10,000 and 20,000 files, the output going
// to a file. Reported: the times, the speed-up of -j 2 over -j 1, the peak
// resident set of each (output is streamed, so it should not grow with the
// tree), and whether -j 2 wrote the very same bytes as -j 1.

#include <algorithm>
#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include <benchmark/benchmark.h>

#include "byte_writer.h"
#include "sample_builder.h"
#include "samples.h"
#include "temp_tree.h"

extern char** environ;

namespace {

using kestrel::fixtures::Bytes;

// Quarters of 5,000 files in directories of 100: a 5,000-file collection is
// one quarter, a 20,000-file one all four.
constexpr int kFilesPerQuarter = 5000;
constexpr int kFilesPerDirectory = 100;

// The kinds of file an old software collection holds, by turns: the sample
// files of `make run` (NetWare modules, NE, PE, LX and LE executables with
// version resources, drivers, overlays) and four DOS programs of 32 KiB whose
// text the marker scan reads whole.
std::vector<std::pair<std::string, Bytes>> FileKinds() {
    std::vector<std::pair<std::string, Bytes>> kinds;
    const kestrel::fixtures::TempTree samples;
    kestrel::samples::WriteSamples(samples.Root());
    for (const auto& entry : std::filesystem::recursive_directory_iterator(samples.Root())) {
        if (!entry.is_regular_file())
            continue;
        std::ifstream in(entry.path(), std::ios::binary);
        kinds.emplace_back(entry.path().extension().string(),
                           Bytes(std::istreambuf_iterator<char>(in), {}));
    }
    kestrel::fixtures::Json dos = kestrel::fixtures::Describe(R"({"format": "mz", "size": 32768})");
    for (int offset = 600; offset + 64 < 32768; offset += 4096)
        dos["put"].push_back(
            {{"at", offset},
             {"text", "Utility version 2.10, Copyright (c) 1993 Example Software"}});
    const Bytes program = kestrel::fixtures::BuildSample(dos);
    for (int i = 0; i < 4; ++i)
        kinds.emplace_back(".EXE", program);
    return kinds;
}

class Collection {
public:
    Collection() {
        const auto kinds = FileKinds();
        for (int quarter = 0; quarter < 4; ++quarter) {
            for (int file = 0; file < kFilesPerQuarter && !kinds.empty(); ++file) {
                const auto& [extension, bytes] = kinds[file % kinds.size()];
                const std::filesystem::path directory =
                    QuarterPath(quarter) / ("DIR" + std::to_string(file / kFilesPerDirectory));
                std::filesystem::create_directories(directory);
                kestrel::fixtures::WriteFile(
                    directory / ("FILE" + std::to_string(file) + extension), bytes);
            }
        }
    }
    std::filesystem::path QuarterPath(int quarter) const {
        std::filesystem::path path = m_tree.Root() / "Q";
        path += std::to_string(quarter); // ("Q" + a number) trips GCC 12's -Wrestrict
        return path;
    }
    std::filesystem::path OutputPath(int files, int jobs) const {
        return m_output.Root() / (std::to_string(files) + "-j" + std::to_string(jobs) + ".json");
    }

private:
    kestrel::fixtures::TempTree m_tree;
    kestrel::fixtures::TempTree m_output;
};

const Collection& TheCollection() {
    static const Collection collection;
    return collection;
}

struct ScanRun {
    bool succeeded = false;
    double seconds = 0;
    long peakRssKiB = 0;
};

// The peak resident set of a running process (VmHWM), in KiB; 0 once it has
// ended. Read while it runs: the peak a parent learns from wait4 holds the
// parent's own size, which the child had before its exec.
long PeakRssKiB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with("VmHWM:"))
            return std::stol(line.substr(6));
    }
    return 0;
}

// Often enough to see the peak of a run of a fraction of a second: the
// process's memory is meant to stay flat, not to spike.
constexpr useconds_t kRssPollMicroseconds = 2000;

ScanRun RunKestrelScan(std::vector<std::string> arguments, const std::filesystem::path& output) {
    arguments.insert(arguments.begin(), KESTREL_SCAN_PATH);
    std::vector<char*> argv;
    for (std::string& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ScanRun run;
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
        int status = 0;
        while (::waitpid(pid, &status, WNOHANG) == 0) {
            run.peakRssKiB = std::max(run.peakRssKiB, PeakRssKiB(pid));
            ::usleep(kRssPollMicroseconds);
        }
        run.succeeded = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    posix_spawn_file_actions_destroy(&actions);
    return run;
}

bool SameBytes(const std::filesystem::path& a, const std::filesystem::path& b) {
    std::ifstream x(a, std::ios::binary);
    std::ifstream y(b, std::ios::binary);
    return std::equal(std::istreambuf_iterator<char>(x), {}, std::istreambuf_iterator<char>(y), {});
}

// Each iteration runs -j 1 and then -j 2 over the same files, so that both
// meet the same load on a shared machine; the time is that of -j 2, and the
// speed-up compares the best run of each.
void BM_KestrelScanJobs(benchmark::State& state) {
    const int files = static_cast<int>(state.range(0));
    const Collection& collection = TheCollection();
    double best[3] = {1e9, 1e9, 1e9};
    long peakRss[3] = {0, 0, 0};
    for (auto _ : state) {
        for (const int jobs : {1, 2}) {
            std::vector<std::string> arguments = {"--json", "-r", "-j", std::to_string(jobs)};
            for (int quarter = 0; quarter < files / kFilesPerQuarter; ++quarter)
                arguments.push_back(collection.QuarterPath(quarter).string());
            const ScanRun run = RunKestrelScan(arguments, collection.OutputPath(files, jobs));
            if (!run.succeeded) {
                state.SkipWithError("kestrel-scan failed");
                return;
            }
            best[jobs] = std::min(best[jobs], run.seconds);
            peakRss[jobs] = std::max(peakRss[jobs], run.peakRssKiB);
            if (jobs == 2)
                state.SetIterationTime(run.seconds);
        }
    }
    state.SetItemsProcessed(state.iterations() * files);
    state.counters["j1_best_ms"] = best[1] * 1000;
    state.counters["j2_best_ms"] = best[2] * 1000;
    state.counters["speedup"] = best[1] / best[2];
    state.counters["j1_peak_rss_MiB"] = static_cast<double>(peakRss[1]) / 1024;
    state.counters["j2_peak_rss_MiB"] = static_cast<double>(peakRss[2]) / 1024;
    state.counters["same_bytes"] =
        SameBytes(collection.OutputPath(files, 1), collection.OutputPath(files, 2));
    state.SetLabel("time and items: -j 2");
}
BENCHMARK(BM_KestrelScanJobs)
    ->ArgNames({"files"})
    ->Arg(5000)
    ->Arg(10000)
    ->Arg(20000)
    ->UseManualTime()
    ->Iterations(7)
    ->Unit(benchmark::kMillisecond);

} // namespace
