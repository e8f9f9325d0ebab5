// kestrel-scan looking inside an ARJ and an imploded zip of the same 300
// program files (`-z -r --json`, -j 1 and -j 2, the output going to a file)
// against 7-Zip alone extracting them to /dev/null (`7z x -so`): the best and
// median wall and CPU times of each, and kestrel-scan's over 7-Zip's.
//
// The programs are sample files (PE, NE, LE, NLM and DOS programs with
// version resources or version lines and copyright text), of 8 KiB to 400 KiB
// spread evenly on a log scale, the sizes grown with bytes like machine code:
// of ten draws, nine give a byte (three in four among sixteen common opcode
// bytes, the rest any) and one a copy of 4 to 16 bytes from the last 4 KiB,
// which ARJ's default method packs about 2:1 as it packs code. The bytes are a
// PE program's .text section, a DOS program's load image, and follow the
// headers and tables of the others as their code does. The zip's members are
// imploded as the fixture builder writes them: literals only.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "run_program.h"
#include "sample_builder.h"
#include "temp_tree.h"

namespace {

using kestrel::bench::ScanRun;
using kestrel::fixtures::Bytes;
using kestrel::fixtures::Json;

constexpr int kPrograms = 300;
constexpr double kSmallest = 8 * 1024;
constexpr double kLargest = 400 * 1024;

constexpr std::array kSamplePrograms = {
    "WINDOWS/WIDGET32.DLL", "WINDOWS/WIDGET64.DLL", "WINDOWS/CLOCK.EXE", "WINDOWS/VNETSUP.386",
    "NETWARE/NWSERVE.NLM",  "NETWARE/3C5X9.LAN",    "DOS/DOSPROG.EXE",   "NETWARE/NWLOGIN.EXE"};

std::vector<Json> SampleDescriptions() {
    std::vector<Json> found;
    for (const char* file : {"windows.json", "netware.json", "dos.json"}) {
        std::ifstream in(std::string(KESTREL_SAMPLE_DESCRIPTIONS) + "/" + file);
        const Json samples = Json::parse(in);
        for (const Json& sample : samples["files"]) {
            if (std::find(kSamplePrograms.begin(), kSamplePrograms.end(), sample["path"]) !=
                kSamplePrograms.end())
                found.push_back(sample);
        }
    }
    return found;
}

Bytes CodeLike(std::size_t length, std::uint32_t seed) {
    static constexpr std::array<std::uint8_t, 16> kCommon = {0x00, 0xFF, 0x8B, 0x89, 0x48, 0xE8,
                                                             0x0F, 0x85, 0x74, 0x75, 0x83, 0xC3,
                                                             0x24, 0x44, 0x4C, 0x01};
    std::uint32_t state = 2463534242u ^ seed;
    const auto next = [&state] {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    };
    Bytes code;
    while (code.size() < length) {
        const std::uint32_t draw = next();
        if (draw % 10 == 0 && code.size() >= 64) {
            const std::size_t count = 4 + (draw >> 8) % 13;
            const std::size_t back =
                count + (draw >> 12) % (std::min<std::size_t>(code.size(), 4096) - count + 1);
            for (std::size_t i = 0; i < count; ++i)
                code.push_back(code[code.size() - back]);
        } else {
            code.push_back((draw >> 8) % 4 != 0 ? kCommon[(draw >> 12) % 16]
                                                : static_cast<std::uint8_t>(draw >> 24));
        }
    }
    code.resize(length);
    return code;
}

// Program `index` of the collection, grown to its size.
Bytes Program(const Json& sample, int index) {
    const double spread = std::fmod(index * 0.6180339887, 1.0);
    const auto size = static_cast<std::size_t>(kSmallest * std::pow(kLargest / kSmallest, spread));
    Json description = sample;
    const bool pe = description["format"] == "pe";
    if (pe)
        description["code_size"] = size;
    kestrel::fixtures::ByteWriter image = kestrel::fixtures::BuildImage(description);
    const std::size_t codeAt = pe ? image.marks.at(".text") : image.Size();
    const std::size_t codeLength = pe ? size : size - std::min(size, image.Size());
    Bytes code = CodeLike(codeLength, static_cast<std::uint32_t>(index));
    const std::string copyright = "Copyright (C) 1995 Example Software, Inc.";
    if (code.size() > 2 * copyright.size())
        std::copy(copyright.begin(), copyright.end(), code.begin() + code.size() / 2);
    image.PutBytes(codeAt, code);
    if (description["format"] == "mz") // the load image is the whole file
        image.PutU16(2, image.Size() % 512).PutU16(4, (image.Size() + 511) / 512);
    return image.Data();
}

// A description that builds the very bytes given: 8-bit text is UTF-8 in it.
Json RawMember(const std::string& path, const Bytes& bytes) {
    std::string text;
    for (const std::uint8_t byte : bytes) {
        if (byte < 0x80) {
            text += static_cast<char>(byte);
        } else {
            text += static_cast<char>(0xC0 | byte >> 6);
            text += static_cast<char>(0x80 | (byte & 0x3F));
        }
    }
    return {{"path", path}, {"put", Json::array({{{"at", 0}, {"text", text}}})}};
}

bool Installed(const std::string& program) {
    return std::system(("command -v " + program + " >/dev/null 2>&1").c_str()) == 0;
}

// The programs written to a folder, packed by arj (when it is installed)
// and by the fixture builder, once.
struct Archives {
    Archives() {
        const std::vector<Json> samples = SampleDescriptions();
        const std::filesystem::path folder = tree.Root() / "PROGRAMS";
        std::filesystem::create_directories(folder);
        Json zip = {{"format", "zip"}, {"method", "implode"}, {"members", Json::array()}};
        for (int i = 0; i < kPrograms; ++i) {
            const Json& sample = samples[i % samples.size()];
            const std::string name = "PROG" + std::to_string(1000 + i).substr(1) +
                                     std::filesystem::path(sample["path"]).extension().string();
            const Bytes bytes = Program(sample, i);
            kestrel::fixtures::WriteFile(folder / name, bytes);
            zip["members"].push_back(RawMember(name, bytes));
        }
        kestrel::fixtures::WriteFile(zipPath, kestrel::fixtures::BuildSample(zip));
        if (Installed("arj"))
            std::system(("cd '" + folder.string() + "' && arj a -y ../PROGRAMS.ARJ '*' >/dev/null")
                            .c_str());
    }
    kestrel::fixtures::TempTree tree;
    std::filesystem::path arjPath = tree.Root() / "PROGRAMS.ARJ";
    std::filesystem::path zipPath = tree.Root() / "PROGRAMS.ZIP";
    std::filesystem::path outputPath = tree.Root() / "scan.json";
};

const Archives& TheArchives() {
    static const Archives archives;
    return archives;
}

// How many records of members kestrel-scan wrote.
int MembersSeen(const std::filesystem::path& output) {
    std::ifstream in(output);
    int members = 0;
    for (std::string line; std::getline(in, line);)
        members += line.find("\"container\":\"") != std::string::npos ? 1 : 0;
    return members;
}

struct Times {
    std::vector<double> wall;
    std::vector<double> cpu;
    void Add(const ScanRun& run) {
        wall.push_back(run.seconds * 1000);
        cpu.push_back(run.cpuSeconds * 1000);
    }
};

double Best(std::vector<double> times) {
    return *std::min_element(times.begin(), times.end());
}

double Median(std::vector<double> times) {
    std::nth_element(times.begin(), times.begin() + times.size() / 2, times.end());
    return times[times.size() / 2];
}

// Each iteration runs 7-Zip, then kestrel-scan with -j 1 and -j 2, so that
// all three meet the same load on a shared machine; the time is -j 1's.
void BM_LookInsideAgainst7Zip(benchmark::State& state, bool arj) {
    if (!Installed("7z") || (arj && !Installed("arj"))) {
        state.SkipWithError(arj ? "needs arj and 7z (p7zip-full)" : "needs 7z (p7zip-full)");
        return;
    }
    const Archives& archives = TheArchives();
    const std::string archive = (arj ? archives.arjPath : archives.zipPath).string();
    std::array<Times, 3> times; // 7-Zip, -j 1, -j 2
    for (auto _ : state) {
        const std::array<ScanRun, 3> runs = {
            kestrel::bench::RunProgram({"7z", "x", "-so", archive}, "/dev/null"),
            kestrel::bench::RunProgram(
                {KESTREL_SCAN_PATH, "-z", "-r", "--json", "-j", "1", archive}, archives.outputPath),
            kestrel::bench::RunProgram(
                {KESTREL_SCAN_PATH, "-z", "-r", "--json", "-j", "2", archive},
                archives.outputPath)};
        for (std::size_t i = 0; i < runs.size(); ++i) {
            if (!runs[i].succeeded) {
                state.SkipWithError(i == 0 ? "7z failed" : "kestrel-scan failed");
                return;
            }
            times[i].Add(runs[i]);
        }
        state.SetIterationTime(runs[1].seconds);
    }
    for (std::size_t i = 0; i < times.size(); ++i) {
        const std::string who = std::array{"7z", "j1", "j2"}[i];
        state.counters[who + "_wall_best_ms"] = Best(times[i].wall);
        state.counters[who + "_wall_median_ms"] = Median(times[i].wall);
        state.counters[who + "_cpu_best_ms"] = Best(times[i].cpu);
        state.counters[who + "_cpu_median_ms"] = Median(times[i].cpu);
        if (i > 0) {
            state.counters[who + "_over_7z_wall"] = Best(times[i].wall) / Best(times[0].wall);
            state.counters[who + "_over_7z_cpu"] = Best(times[i].cpu) / Best(times[0].cpu);
        }
    }
    state.counters["members"] = MembersSeen(archives.outputPath);
    state.SetLabel("time: -j 1; ratios: best over best");
}
BENCHMARK_CAPTURE(BM_LookInsideAgainst7Zip, arj, true)
    ->UseManualTime()
    ->Iterations(7)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_LookInsideAgainst7Zip, imploded_zip, false)
    ->UseManualTime()
    ->Iterations(7)
    ->Unit(benchmark::kMillisecond);

} // namespace
