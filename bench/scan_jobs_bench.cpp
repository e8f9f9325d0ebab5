// kestrel-scan over a whole collection, run as a user runs it: `--json -r`
// with -j 1 and -j 2 over 5,000, 10,000 and 20,000 files, the output going
// to a file; and with --reuse of an earlier run. Reported: the times, the speed-up of -j 2 over -j
// 1, the peak resident set of each (output is streamed, so it should not grow with the tree), and
// whether -j 2 wrote the very same bytes as -j 1.

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "byte_writer.h"
#include "run_program.h"
#include "sample_builder.h"
#include "samples.h"
#include "temp_tree.h"

namespace {

using kestrel::bench::ScanRun;
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

ScanRun RunKestrelScan(std::vector<std::string> arguments, const std::filesystem::path& output) {
    arguments.insert(arguments.begin(), KESTREL_SCAN_PATH);
    return kestrel::bench::RunProgram(std::move(arguments), output);
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

// Every hundredth file of the collection touched, changed or replaced by
// turns: 1% of the files, as between two inventories of a growing archive.
void ChangeOnePercent(const Collection& collection) {
    std::vector<std::filesystem::path> files;
    for (int quarter = 0; quarter < 4; ++quarter) {
        for (const auto& entry :
             std::filesystem::recursive_directory_iterator(collection.QuarterPath(quarter))) {
            if (entry.is_regular_file())
                files.push_back(entry.path());
        }
    }
    std::sort(files.begin(), files.end());
    for (std::size_t i = 0; i < files.size(); i += 100) {
        const std::filesystem::path& file = files[i];
        switch (i / 100 % 3) {
        case 0:
            std::filesystem::last_write_time(file, std::filesystem::file_time_type::clock::now());
            break;
        case 1:
            std::ofstream(file, std::ios::binary | std::ios::app) << "changed";
            break;
        default: // the same bytes in a new file put in its place
            std::filesystem::copy_file(file, file.string() + ".new");
            std::filesystem::rename(file.string() + ".new", file);
        }
    }
}

// --reuse over the 20,000 files, all in the page cache: a full --json -r run
// and a run reusing its output with nothing changed, with the same -j, by
// turns (the time is that of the reusing run; the speed-up compares the best
// of each), and whether the reusing run wrote the very same bytes. Then 1%
// of the files are touched, changed or replaced, and a reusing run is
// compared with a full scan of the tree as it now is.
void BM_KestrelScanReuse(benchmark::State& state) {
    const std::string jobs = std::to_string(state.range(0));
    const Collection& collection = TheCollection();
    std::vector<std::string> arguments = {"--json", "-r", "-j", jobs};
    for (int quarter = 0; quarter < 4; ++quarter)
        arguments.push_back(collection.QuarterPath(quarter).string());
    std::vector<std::string> reusing = arguments;
    reusing.insert(reusing.end(), {"--reuse", collection.OutputPath(0, 0).string()});
    // Output 0 is the full run's, which the others reuse.
    const auto run = [&](const std::vector<std::string>& with, int output) {
        const ScanRun scan = RunKestrelScan(with, collection.OutputPath(output, 0));
        if (!scan.succeeded)
            state.SkipWithError("kestrel-scan failed");
        return scan;
    };
    ScanRun bestFull{false, 1e9, 1e9};
    ScanRun bestReuse{false, 1e9, 1e9};
    bool sameBytes = true;
    const auto keepBest = [](ScanRun& best, const ScanRun& scan) {
        best.seconds = std::min(best.seconds, scan.seconds);
        best.cpuSeconds = std::min(best.cpuSeconds, scan.cpuSeconds);
    };
    for (auto _ : state) {
        keepBest(bestFull, run(arguments, 0));
        const ScanRun reuse = run(reusing, 1);
        keepBest(bestReuse, reuse);
        state.SetIterationTime(reuse.seconds);
        sameBytes =
            sameBytes && SameBytes(collection.OutputPath(0, 0), collection.OutputPath(1, 0));
    }
    ChangeOnePercent(collection);
    const double changedReuse = run(reusing, 1).seconds;
    run(arguments, 2);
    state.counters["full_best_ms"] = bestFull.seconds * 1000;
    state.counters["reuse_best_ms"] = bestReuse.seconds * 1000;
    state.counters["speedup"] = bestFull.seconds / bestReuse.seconds;
    state.counters["full_cpu_ms"] = bestFull.cpuSeconds * 1000;
    state.counters["reuse_cpu_ms"] = bestReuse.cpuSeconds * 1000;
    state.counters["cpu_speedup"] = bestFull.cpuSeconds / bestReuse.cpuSeconds;
    state.counters["same_bytes"] = sameBytes;
    state.counters["1pct_changed_reuse_ms"] = changedReuse * 1000;
    state.counters["1pct_changed_same_bytes"] =
        SameBytes(collection.OutputPath(1, 0), collection.OutputPath(2, 0));
    state.SetLabel("time: the run with --reuse");
}
BENCHMARK(BM_KestrelScanReuse)
    ->ArgNames({"jobs"})
    ->Arg(1)
    ->Arg(2)
    ->UseManualTime()
    ->Iterations(5)
    ->Unit(benchmark::kMillisecond);

} // namespace
