#include <gtest/gtest.h>

#include "byte_writer.h"
#include "quill_scan.h"
#include "recording_sink.h"
#include "temp_tree.h"

namespace kestrel {
namespace {

using fixtures::ByteWriter;

class FileReaderTest : public ::testing::Test {
protected:
    // Opens a file of `bytes` as the scan file.
    void OpenFile(const fixtures::Bytes& bytes) {
        const auto path = tree.Add("scan.bin", bytes);
        ASSERT_EQ(scanner.OpenScanFile(path.string()), 0);
    }
    void SetBuffer(const fixtures::Bytes& bytes) { scanner.FileBuffer = bytes; }

    fixtures::TempTree tree;
    testing::RecordingSink sink;
    QuillScan scanner{sink};
};

TEST_F(FileReaderTest, ShortReadKeepsRequestedSizeWithZeroTail) {
    OpenFile(fixtures::Bytes(100, 0xAA));
    EXPECT_EQ(scanner.ReadBlock(512), 100);
    EXPECT_EQ(scanner.BufferFill, 100);
    ASSERT_EQ(scanner.FileBuffer.size(), 512u);
    EXPECT_EQ(scanner.FileBuffer[99], 0xAA);
    EXPECT_EQ(scanner.FileBuffer[100], 0);
    EXPECT_EQ(scanner.FileBuffer[511], 0);
    std::int64_t position = 0;
    EXPECT_EQ(scanner.SeekScanFile(position, 1), 1) << "at the end the position query fails";
}

} // namespace
} // namespace kestrel
