// A whole search: the walk over a tree of sample files with the report
// composed in full and thrown away, as kestrel-scan does it without its output.

#include <string>

#include <benchmark/benchmark.h>

#include "byte_writer.h"
#include "quill_scan.h"
#include "sample_builder.h"
#include "temp_tree.h"
#include "walk.h"

namespace {

class DiscardingSink : public kestrel::ReportSink {
public:
    void AddLine(const std::string& line) override { benchmark::DoNotOptimize(line.data()); }
};

// Ten directories of `filesPerDirectory` small files: DOS programs, new-style
// executable stubs and text files, the mix of an old program directory.
void FillTree(const kestrel::fixtures::TempTree& tree, int filesPerDirectory) {
    using kestrel::fixtures::BuildSample;
    using kestrel::fixtures::Describe;
    using kestrel::fixtures::WriteFile;
    const auto dos = BuildSample(Describe(R"({"format": "mz", "size": 2048,
        "put": [{"at": 600, "text": "Utility version 2.10, (c) 1993"}]})"));
    const auto pe = BuildSample(Describe(R"({"format": "mz", "new_header": "PE", "size": 4096})"));
    const auto text =
        BuildSample(Describe(R"({"put": [{"at": 0, "lines": ["README for version 1.0"]}]})"));
    for (int d = 0; d < 10; ++d) {
        const auto directory = tree.Root() / ("DIR" + std::to_string(d));
        std::filesystem::create_directories(directory);
        for (int f = 0; f < filesPerDirectory; ++f) {
            const auto stem = directory / ("FILE" + std::to_string(f));
            switch (f % 3) {
            case 0:
                WriteFile(stem.string() + ".EXE", dos);
                break;
            case 1:
                WriteFile(stem.string() + ".DLL", pe);
                break;
            default:
                WriteFile(stem.string() + ".TXT", text);
            }
        }
    }
}

void BM_ScanTree(benchmark::State& state) {
    const kestrel::fixtures::TempTree tree;
    const int filesPerDirectory = static_cast<int>(state.range(0));
    FillTree(tree, filesPerDirectory);
    DiscardingSink sink;
    kestrel::QuillScan scanner(sink);
    for (auto _ : state) {
        kestrel::DirectoryWalk walk(scanner, sink, {}, true, {});
        walk.WalkDirectory(tree.Root().string());
    }
    state.SetItemsProcessed(state.iterations() * 10 * filesPerDirectory);
    state.SetLabel("items = files scanned");
}
BENCHMARK(BM_ScanTree)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond);

} // namespace
