// The bytes a digest sees: each byte of the file once, in order, whether the
// readers read the whole file (a marker scan, in overlapping blocks) or only
// a part of it (the rest is read before the report).

#include <gtest/gtest.h>

#include "recording_sink.h"

namespace kestrel {
namespace {

// Keeps every byte it is handed.
class ByteCollector : public ByteObserver {
public:
    void StartFile() override { bytes.clear(); }
    void AddBytes(std::span<const std::uint8_t> more) override {
        bytes.insert(bytes.end(), more.begin(), more.end());
    }
    fixtures::Bytes bytes;
};

TEST(FactsTest, ObserverSeesEveryByteOnceInOrder) {
    const struct {
        const char* name;
        const char* fileName;
        fixtures::Bytes file;
    } cases[] = {
        {"an empty file", "EMPTY.TXT", {}},
        {"a file of one block", "README.TXT", fixtures::CountingBytes(100)},
        {"a marker scan over overlapping blocks", "PROGRAM.OVL", fixtures::CountingBytes(20000)},
        {"a marker scan ending on a block's overlap", "PROGRAM.OVL",
         fixtures::CountingBytes(8192 + 7936)},
        {"a PE file read in part, the rest read after", "MODULE.DLL",
         fixtures::BuildSample(fixtures::Describe(
             R"({"format": "pe", "version": {"strings": [["FileVersion", "1.0"]]}})"))},
    };
    for (const auto& c : cases) {
        ByteCollector collector;
        testing::RecordingSink sink;
        QuillScan scanner(sink);
        scanner.SetByteObserver(&collector);
        fixtures::MemorySource source(c.file);
        scanner.ScanSourceAs(source, "/samples/", c.fileName, 0);
        EXPECT_EQ(sink.reports.size(), 1u) << c.name;
        EXPECT_EQ(collector.bytes, c.file) << c.name;
    }
}

} // namespace
} // namespace kestrel
