// libFuzzer target: arbitrary bytes looked inside as a container, with small
// limits; every member found is scanned and its report composed in full.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "look_inside.h"
#include "quill_scan.h"

namespace {

// Small enough that one input never takes long, large enough for several
// members and a container inside a container.
constexpr std::int64_t kFuzzMaxExpand = 16 * 1024 * 1024;
constexpr std::int64_t kFuzzMaxMembers = 1000;

class MemorySource : public kestrel::ScanSource {
public:
    MemorySource(const std::uint8_t* data, std::size_t size)
        : m_data(data), m_size(static_cast<std::int64_t>(size)) {}
    std::int64_t Length() const override { return m_size; }
    std::int64_t ReadAt(std::int64_t offset, std::uint8_t* into, std::int64_t count) override {
        if (offset < 0 || count < 0)
            return -1;
        if (offset >= m_size)
            return 0;
        const std::int64_t got = std::min(count, m_size - offset);
        std::memcpy(into, m_data + offset, static_cast<std::size_t>(got));
        return got;
    }

private:
    const std::uint8_t* m_data;
    std::int64_t m_size;
};

// Takes every line, so the composer renders each report in full.
class CountingSink : public kestrel::ReportSink {
public:
    void AddLine(const std::string& line) override { characters += line.size(); }
    std::size_t characters = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    MemorySource source(data, size);
    CountingSink sink;
    kestrel::QuillScan scanner(sink);
    kestrel::ContainerHooks hooks;
    hooks.directory = [&](const std::string& path) { sink.AddLine(path); };
    hooks.problem = [&](const std::string& path, const std::string& reason) {
        sink.AddLine(path + reason);
    };
    kestrel::ContainerExplorer explorer(
        scanner, hooks, {.maxExpand = kFuzzMaxExpand, .maxMembers = kFuzzMaxMembers});
    explorer.LookInside(source, "/fuzz/INPUT.BIN", 0);
    return 0;
}
