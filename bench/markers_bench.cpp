// The marker scanner over generated files held in the page cache: its speed
// in bytes per second and the memory one scan needs, for files of 1 MB to
// 100 MB, for files full of distinct version-like lines, and for a file whose
// printable lines hold hundreds of version-like numbers each.
//
// Memory is given two ways: the peak of heap bytes live during a scan above
// those live before it (counted by the global operator new below), and the
// growth of the process's peak resident set during the benchmark (VmHWM,
// reset through /proc/self/clear_refs before it starts).

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <malloc.h>
#include <map>
#include <memory>
#include <new>
#include <string>

#include <benchmark/benchmark.h>

#include "byte_writer.h"
#include "quill_scan.h"
#include "temp_tree.h"

namespace {

std::size_t g_liveHeapBytes = 0;
std::size_t g_peakHeapBytes = 0;

} // namespace

void* operator new(std::size_t size) {
    void* block = std::malloc(size == 0 ? 1 : size);
    if (block == nullptr)
        throw std::bad_alloc();
    g_liveHeapBytes += malloc_usable_size(block);
    g_peakHeapBytes = std::max(g_peakHeapBytes, g_liveHeapBytes);
    return block;
}

void operator delete(void* block) noexcept {
    if (block == nullptr)
        return;
    g_liveHeapBytes -= malloc_usable_size(block);
    std::free(block);
}

void operator delete(void* block, std::size_t) noexcept {
    operator delete(block);
}

namespace kestrel {
namespace {

constexpr std::size_t kMegabyte = 1024 * 1024;
constexpr std::size_t kTemplateSize = 64 * 1024;

class NullSink : public ReportSink {
public:
    void AddLine(const std::string&) override {}
};

// A value of /proc/self/status in kB, or -1.
long StatusKilobytes(const std::string& key) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(key + ":", 0) == 0)
            return std::strtol(line.c_str() + key.size() + 1, nullptr, 10);
    }
    return -1;
}

// Restarts the peak resident set at the current one.
void ResetPeakResidentSet() {
    std::ofstream("/proc/self/clear_refs") << "5";
}

// 64 KB that look like a DOS program: code-like bytes with the usual strings,
// some of them version-like, some in 16-bit characters, and no version marker,
// so the version-like lines are collected over the whole file.
fixtures::Bytes ProgramTemplate() {
    fixtures::ByteWriter image(kTemplateSize);
    std::uint32_t state = 2463534242u; // xorshift32
    for (std::size_t i = 0; i < kTemplateSize; ++i) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        // About one byte in four is zero, as in real code and data.
        const auto byte = static_cast<std::uint8_t>(state >> 24);
        image.PutU8(i, (state & 3) == 0 ? 0 : byte);
    }
    const char* const strings[] = {
        "Press any key to continue...",
        "Error reading drive %c:",
        "Not enough memory",
        "Requires DOS 3.30 or later",
        "Network Utility V3.12a",
        "Print server 2.10 (beta)",
        "Copyright (c) 1994 Example",
        "Usage: NWUTIL [/?]",
        "Loading overlay 1.2, please wait",
    };
    std::size_t offset = 512;
    for (int n = 0; offset + 128 < kTemplateSize; ++n, offset += 700) {
        const std::string text = std::string(strings[n % 9]) + " #" + std::to_string(n % 17);
        image.PutU8(offset - 1, 0);
        if (n % 5 == 0)
            image.PutWideText(offset, std::u16string(text.begin(), text.end()));
        else
            image.PutText(offset, text);
    }
    image.PutU8(0, 0); // neither an MZ nor an NLM signature
    return image.Data();
}

// Lines "Component N release A.B" with no two alike.
fixtures::Bytes DistinctVersionLines(std::size_t count) {
    std::string text;
    for (std::size_t i = 0; i < count; ++i)
        text += "Component " + std::to_string(i) + " release " + std::to_string(i % 100) + "." +
                std::to_string(i / 100) + "\r\n";
    return fixtures::Bytes(text.begin(), text.end());
}

// A printable line of 4000 characters made of version-like numbers.
fixtures::Bytes LongVersionLine() {
    std::string line;
    for (int i = 0; line.size() < 4000; ++i) {
        line += 'V';
        line += std::to_string(i % 10);
        line += '.';
        line += std::to_string(i % 100);
        line += ' ';
    }
    line += "\r\n";
    return fixtures::Bytes(line.begin(), line.end());
}

// A file of `size` bytes repeating `pattern`, written once and kept for the run.
std::string BenchFile(const std::string& name, const fixtures::Bytes& pattern, std::size_t size) {
    static fixtures::TempTree tree;
    static std::map<std::string, bool> written;
    const std::filesystem::path path = tree.Root() / name;
    if (!written[name]) {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        for (std::size_t done = 0; done < size; done += pattern.size()) {
            const std::size_t count = std::min(pattern.size(), size - done);
            out.write(reinterpret_cast<const char*>(pattern.data()),
                      static_cast<std::streamsize>(count));
        }
        written[name] = true;
    }
    return tree.RootWithSeparator();
}

void RunScan(benchmark::State& state, const std::string& directory, const std::string& name,
             std::size_t size) {
    NullSink sink;
    QuillScan scanner(sink);
    scanner.ScanFile(directory, name); // into the page cache
    ResetPeakResidentSet();
    const long residentBefore = StatusKilobytes("VmRSS");
    std::size_t peakHeapGrowth = 0;
    for (auto _ : state) {
        const std::size_t liveBefore = g_liveHeapBytes;
        g_peakHeapBytes = liveBefore;
        scanner.ScanFile(directory, name);
        peakHeapGrowth = std::max(peakHeapGrowth, g_peakHeapBytes - liveBefore);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
    state.counters["peak_heap_kB"] = static_cast<double>(peakHeapGrowth) / 1024.0;
    state.counters["rss_growth_kB"] =
        static_cast<double>(StatusKilobytes("VmHWM") - residentBefore);
}

void BM_ScanMarkers(benchmark::State& state) {
    const auto size = static_cast<std::size_t>(state.range(0)) * kMegabyte;
    const std::string name = "PROGRAM" + std::to_string(state.range(0)) + ".OVL";
    RunScan(state, BenchFile(name, ProgramTemplate(), size), name, size);
}
BENCHMARK(BM_ScanMarkers)->Arg(1)->Arg(100)->Unit(benchmark::kMillisecond);

void BM_ScanMarkersDistinctVersionLines(benchmark::State& state) {
    const auto count = static_cast<std::size_t>(state.range(0));
    const fixtures::Bytes lines = DistinctVersionLines(count);
    const std::string name = "LINES" + std::to_string(count) + ".MSG";
    RunScan(state, BenchFile(name, lines, lines.size()), name, lines.size());
    state.counters["lines_per_second"] = benchmark::Counter(
        static_cast<double>(count), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_ScanMarkersDistinctVersionLines)
    ->Arg(1000)
    ->Arg(10000)
    ->Arg(30000)
    ->Unit(benchmark::kMillisecond);

void BM_ScanMarkersLongVersionLines(benchmark::State& state) {
    const std::size_t size = 10 * kMegabyte;
    RunScan(state, BenchFile("LONGLINE.MSG", LongVersionLine(), size), "LONGLINE.MSG", size);
}
BENCHMARK(BM_ScanMarkersLongVersionLines)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace kestrel

BENCHMARK_MAIN();
