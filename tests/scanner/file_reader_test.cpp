#include <climits>
#include <sys/stat.h>

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
    void OpenFile(const fixtures::Bytes& bytes) {
        const auto path = tree.Add("scan.bin", bytes);
        ASSERT_EQ(scanner.OpenScanFile(path.string()), 0);
    }
    // The position as the readers learn it: a seek by 0 from the current position.
    std::int64_t Position() {
        std::int64_t offset = 0;
        return scanner.SeekScanFile(offset, 1) == 0 ? offset : -1;
    }
    void SetBuffer(const ByteWriter& image) { scanner.FileBuffer = image.Data(); }

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
    EXPECT_EQ(Position(), -1) << "at the end of the file the position query fails";
}

TEST_F(FileReaderTest, OverlappingBlocksThroughRelativeSeek) {
    OpenFile(fixtures::Bytes(10000, 1));
    EXPECT_EQ(scanner.ReadBlock(8192), 8192);
    std::int64_t offset = -256;
    EXPECT_EQ(scanner.SeekScanFile(offset, 1), 0);
    EXPECT_EQ(offset, 7936);
    EXPECT_EQ(scanner.ReadBlock(8192), 2064);
}

TEST_F(FileReaderTest, SeekBoundsForEachOrigin) {
    OpenFile(fixtures::Bytes(5000, 0));
    std::int64_t offset = 5000;
    EXPECT_EQ(scanner.SeekScanFile(offset, 0), 1);
    EXPECT_EQ(offset, 5000) << "a failed seek leaves the offset as it was";
    offset = 4999;
    EXPECT_EQ(scanner.SeekScanFile(offset, 0), 0);
    offset = -1;
    EXPECT_EQ(scanner.SeekScanFile(offset, 0), 1);
    offset = 0;
    EXPECT_EQ(scanner.SeekScanFile(offset, 2), 0);
    EXPECT_EQ(offset, 4999) << "origin 2 counts back from the last byte";
    offset = 5000;
    EXPECT_EQ(scanner.SeekScanFile(offset, 2), 1);
    offset = LLONG_MIN;
    EXPECT_EQ(scanner.SeekScanFile(offset, 2), 1) << "no overflow past the end";
    offset = 7;
    EXPECT_EQ(scanner.SeekScanFile(offset, 9), 0);
    EXPECT_EQ(offset, 7) << "an unknown origin moves nothing";
}

TEST_F(FileReaderTest, PositionAfterBlockGivesBlockStart) {
    OpenFile(fixtures::Bytes(5000, 0));
    std::int64_t offset = 1000;
    ASSERT_EQ(scanner.SeekScanFile(offset, 0), 0);
    scanner.ReadBlock(300);
    EXPECT_EQ(Position() - scanner.BufferFill, 1000);
    offset = 4900;
    ASSERT_EQ(scanner.SeekScanFile(offset, 0), 0);
    scanner.ReadBlock(300);
    EXPECT_EQ(scanner.BufferFill, 100);
    EXPECT_EQ(Position(), -1);
}

TEST_F(FileReaderTest, EmptyFileRefusesEverySeek) {
    OpenFile({});
    std::int64_t offset = 0;
    EXPECT_EQ(scanner.SeekScanFile(offset, 0), 1);
    EXPECT_EQ(scanner.SeekScanFile(offset, 1), 1);
    EXPECT_EQ(scanner.ReadBlock(16), 0);
    EXPECT_EQ(scanner.FileBuffer, fixtures::Bytes(16, 0));
}

TEST_F(FileReaderTest, NonPositiveRequestKeepsBufferAndLargeRequestIsClipped) {
    OpenFile(fixtures::Bytes(200000, 7));
    scanner.ReadBlock(4);
    EXPECT_EQ(scanner.ReadBlock(0), 0);
    EXPECT_EQ(scanner.ReadBlock(-5), -5);
    EXPECT_EQ(scanner.FileBuffer, fixtures::Bytes(4, 7));
    EXPECT_EQ(scanner.ReadBlock(1'000'000'000), kMaxBlockSize);
    EXPECT_EQ(scanner.FileBuffer.size(), static_cast<std::size_t>(kMaxBlockSize));
}

TEST_F(FileReaderTest, OneFileAtATimeAndOnlyRegularFiles) {
    const auto first = tree.Add("a.bin", "first");
    const auto second = tree.Add("b.bin", "second");
    ASSERT_EQ(scanner.OpenScanFile(first.string()), 0);
    EXPECT_EQ(scanner.OpenScanFile(second.string()), 1);
    EXPECT_EQ(scanner.ScanFileLength(), 5) << "the first file stays open";
    scanner.CloseScanFile();
    scanner.CloseScanFile();
    const auto fifo = tree.Root() / "pipe";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    EXPECT_EQ(scanner.OpenScanFile(fifo.string()), 1) << "a FIFO is never opened";
    EXPECT_EQ(scanner.OpenScanFile(tree.Root().string()), 1);
    EXPECT_EQ(scanner.OpenScanFile((tree.Root() / "missing").string()), 1);
}

TEST_F(FileReaderTest, NumbersAreLittleEndianAndZeroWhenNotWhollyInside) {
    SetBuffer(ByteWriter()
                  .PutU16(0, 0x1234)
                  .PutU32(2, 0x80000000u)
                  .PutU32(6, 0x7FFFFFFFu)
                  .PutU32(10, 0xFFFFFFFFu));
    EXPECT_EQ(scanner.BufWord(0), 4660);
    EXPECT_EQ(scanner.BufDword(2), INT_MIN);
    EXPECT_EQ(scanner.BufDword(6), INT_MAX);
    EXPECT_EQ(scanner.BufDword(10), -1);
    EXPECT_EQ(scanner.BufWord(12), 0xFFFF) << "a word ending exactly at the end is read";
    EXPECT_EQ(scanner.BufWord(13), 0);
    EXPECT_EQ(scanner.BufDword(11), 0);
    EXPECT_EQ(scanner.BufByte(14), 0);
    EXPECT_EQ(scanner.BufByte(-1), 0);
    EXPECT_EQ(scanner.BufDword(-2), 0);
}

TEST_F(FileReaderTest, EightBitTexts) {
    SetBuffer(ByteWriter()
                  .PutU8(0, 3)
                  .PutText(1, std::string("A\0B", 3))
                  .PutZText(4, "KEY")
                  .PutU8(8, 0)
                  .PutZText(9, "VAL")
                  .PutText(13, "NOZERO"));
    EXPECT_EQ(scanner.BufCountedString(0), std::string("A\0B", 3));
    EXPECT_EQ(scanner.BufSecondString(4, 12), "VAL");
    EXPECT_EQ(scanner.BufSecondString(13, 6), "") << "no zero after the first text";
    EXPECT_EQ(scanner.BufZString(5), "KEY");
    EXPECT_EQ(scanner.BufZString(8), "") << "started at a zero byte";
    EXPECT_EQ(scanner.BufZStringN(9, 2), "VA");
    EXPECT_EQ(scanner.BufChars(7, 3), std::string("\0\0V", 3));
    EXPECT_EQ(scanner.BufZString(14), "NOZERO") << "stops at the end of the buffer";
    EXPECT_EQ(scanner.BufChars(16, 100), "ERO");
    EXPECT_EQ(scanner.BufCountedString(18), "") << "a count past the end gives what is inside";
    EXPECT_EQ(scanner.BufChars(-1, 4), "");
    EXPECT_EQ(scanner.BufZString(0), "");
    EXPECT_EQ(scanner.BufSecondString(-3, 12), "");
}

TEST_F(FileReaderTest, WideTexts) {
    ByteWriter image;
    image.PutU16(0, 0x004B).PutU16(2, 0).PutU16(4, 0).PutU16(6, 0x0056).PutU16(8, 0x263A);
    image.PutU16(10, 0x0057).PutU16(12, 0);
    SetBuffer(image);
    EXPECT_EQ(scanner.BufWideText(0, 14), "V_W");
    EXPECT_EQ(scanner.BufWideString(6, 8), "V_W");
    EXPECT_EQ(scanner.BufWideString(6, 3), "V") << "a code must lie wholly inside the range";
    EXPECT_EQ(scanner.BufWideString(2, 10), "");
    EXPECT_EQ(scanner.BufWideString(10, 1000), "W");
    EXPECT_EQ(scanner.BufWideText(6, 1000), "") << "no second text before the end";
}

TEST_F(FileReaderTest, FindTriesWideFormBeforeNarrowAtEachIndex) {
    ByteWriter image(64);
    image.PutWideText(10, "AB").PutText(20, "AB");
    SetBuffer(image);
    EXPECT_EQ(scanner.BufFind(1, "AB"), -11);
    EXPECT_EQ(scanner.BufFind(12, "AB"), 21);
    EXPECT_EQ(scanner.BufFind(22, "AB"), 0);
    EXPECT_EQ(scanner.BufFind(1, ""), 0);
    EXPECT_EQ(scanner.BufFind(-5, "AB"), -11) << "a start before the buffer starts at its start";
    SetBuffer(ByteWriter().PutText(0, "xxVeRsIoN=").PutZText(10, "4.11"));
    EXPECT_EQ(scanner.BufZString(scanner.BufFind(1, "VeRsIoN=") + 8), "4.11");
    SetBuffer(ByteWriter().PutText(0, "xxA"));
    EXPECT_EQ(scanner.BufFind(1, "AB"), 0) << "a match may not run past the end";
}

} // namespace
} // namespace kestrel
