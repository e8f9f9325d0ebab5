#include <climits>
#include <functional>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "recording_sink.h"
#include "temp_tree.h"

namespace kestrel {
namespace {

// The block reader on a file whose byte i is i % 251 + 1, never 0.
class FileReader : public ::testing::Test {
protected:
    void Open(std::int64_t length) {
        const auto bytes = fixtures::CountingBytes(static_cast<std::size_t>(length));
        ASSERT_EQ(scanner.OpenScanFile(tree.Add("scan.bin", bytes).string()), 0);
    }

    fixtures::TempTree tree;
    testing::RecordingSink sink;
    QuillScan scanner{sink};
};

// A file of `length` bytes: 4 bytes read at 0, then `count` at `at` giving
// `fill` bytes in a block of `size`; then a seek by `seek` from `origin`
// giving `result` and the offset `after`.
struct BlockRow {
    const char* name;
    std::int64_t length, at, count, fill, size, seek;
    int origin, result;
    std::int64_t after;
};

class Block : public FileReader, public ::testing::WithParamInterface<BlockRow> {};

TEST_P(Block, ReadThenSeek) {
    const BlockRow& row = GetParam();
    Open(row.length);
    scanner.ReadBlock(4);
    std::int64_t offset = row.at;
    scanner.SeekScanFile(offset, 0);
    EXPECT_EQ(scanner.ReadBlock(row.count), row.fill);
    EXPECT_EQ(std::ssize(scanner.FileBuffer), row.size);
    if (row.fill > 0) {
        EXPECT_EQ(scanner.BufByte(row.fill - 1), (row.at + row.fill - 1) % 251 + 1);
    }
    if (row.count <= 0) {
        EXPECT_EQ(scanner.BufByte(3), 4) << "the block read before is kept";
    } else if (row.fill < row.size) {
        EXPECT_EQ(scanner.BufByte(row.fill), 0) << "the tail past the bytes read is 0";
    }
    offset = row.seek;
    EXPECT_EQ(scanner.SeekScanFile(offset, row.origin), row.result);
    EXPECT_EQ(offset, row.after);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, Block,
    ::testing::Values(
        BlockRow{"ShortReadKeepsTheRequestedSize", 100, 0, 512, 100, 512, 0, 1, 1, 0},
        BlockRow{"SecondOverlappingBlock", 10000, 7936, 8192, 2064, 8192, 0, 1, 1, 0},
        BlockRow{"BackToOverlapABlock", 10000, 0, 8192, 8192, 8192, -256, 1, 0, 7936},
        BlockRow{"CurrentAfterABlock", 5000, 1000, 300, 300, 300, 0, 1, 0, 1300},
        BlockRow{"LastByteAndBackFromIt", 5000, 4999, 16, 1, 16, 0, 2, 0, 4999},
        BlockRow{"ClippedToTheLargestBlock", 200000, 0, 1000000000, 65536, 65536, 0, 1, 0, 65536},
        BlockRow{"ZeroRequestKeepsTheBlock", 5000, 0, 0, 0, 4, 4999, 0, 0, 4999},
        BlockRow{"NegativeRequestKeepsTheBlock", 5000, 0, -5, -5, 4, 5000, 0, 1, 5000},
        BlockRow{"EmptyFileFromStart", 0, 0, 16, 0, 16, 0, 0, 1, 0},
        BlockRow{"EmptyFileFromCurrent", 0, 0, 16, 0, 16, 0, 1, 1, 0},
        BlockRow{"FromStartBeforeStart", 5000, 0, 4, 4, 4, -1, 0, 1, -1},
        BlockRow{"BackToTheStart", 5000, 0, 4, 4, 4, 4999, 2, 0, 0},
        BlockRow{"BackBeforeTheStart", 5000, 0, 4, 4, 4, 5000, 2, 1, 5000},
        BlockRow{"BackTooFar", 5000, 0, 4, 4, 4, LLONG_MIN, 2, 1, LLONG_MIN},
        BlockRow{"UnknownOrigin", 5000, 0, 4, 4, 4, 7, 9, 0, 7}),
    testing::RowName());

struct AccessorRow {
    const char* name;
    std::function<std::string(const QuillScan&)> read;
    std::string expected;
};

// Their plain reads are the golden output's; these are their edges.
class Accessor : public FileReader, public ::testing::WithParamInterface<AccessorRow> {};

// The 41 bytes of one block: 0x1234, 0x80000000, a counted "A\0B", "KEY\0\0VAL\0",
// the 16-bit codes K 0 0 V U+263A W 0, "NOZERO" and a 16-bit "Q" that ends it.
TEST_P(Accessor, ReadsInsideTheBlockOnly) {
    const auto block = fixtures::Describe(R"({"put": [
        {"at": 0, "u16": 4660}, {"at": 2, "u32": 2147483648}, {"at": 6, "counted": "A\u0000B"},
        {"at": 10, "text": "KEY\u0000\u0000VAL\u0000"}, {"at": 19, "wide": "K\u0000\u0000V☺W"},
        {"at": 33, "text": "NOZERO"}, {"at": 39, "wide": "Q"}]})");
    ASSERT_EQ(scanner.OpenScanFile(tree.Add("scan.bin", fixtures::BuildSample(block)).string()), 0);
    ASSERT_EQ(scanner.ReadBlock(41), 41);
    EXPECT_EQ(GetParam().read(scanner), GetParam().expected);
}

using S = const QuillScan&;
const auto n = [](std::int64_t value) { return std::to_string(value); };

INSTANTIATE_TEST_SUITE_P(
    Rules, Accessor,
    ::testing::Values(
        AccessorRow{"DwordIsSigned", [](S s) { return n(s.BufDword(2)); }, "-2147483648"},
        AccessorRow{"WordExactFitAtTheEnd", [](S s) { return n(s.BufWord(39)); }, "81"},
        AccessorRow{"WordOnePastTheEnd", [](S s) { return n(s.BufWord(40)); }, "0"},
        AccessorRow{"DwordExactFitAtTheEnd", [](S s) { return n(s.BufDword(37)); }, "5328722"},
        AccessorRow{"DwordOnePastTheEnd", [](S s) { return n(s.BufDword(38)); }, "0"},
        AccessorRow{"ByteBeforeTheStart", [](S s) { return n(s.BufByte(-1)); }, "0"},
        AccessorRow{"CountedTextHoldsAZero", [](S s) { return s.BufCountedString(6); },
                    std::string("A\0B", 3)},
        AccessorRow{"CountedTextCutAtTheEnd", [](S s) { return s.BufCountedString(38); },
                    std::string("Q\0", 2)},
        AccessorRow{"SecondTextNeedsAZero", [](S s) { return s.BufSecondString(33, 6); }, ""},
        AccessorRow{"TextFromAZero", [](S s) { return s.BufZString(14); }, ""},
        AccessorRow{"CharsCutAtTheEnd", [](S s) { return s.BufChars(38, 100); },
                    std::string("OQ\0", 3)},
        AccessorRow{"WideTextAfterKeyAndZeros", [](S s) { return s.BufWideText(19, 14); }, "V_W"},
        AccessorRow{"WideStringOfWholeCodes", [](S s) { return s.BufWideString(25, 3); }, "V"},
        AccessorRow{"WideStringFromAZero", [](S s) { return s.BufWideString(21, 10); }, ""},
        AccessorRow{"FindWideFirstAtOneIndex", [](S s) { return n(s.BufFind(12, "K")); }, "-20"},
        AccessorRow{"FindWideExactFitAtTheEnd", [](S s) { return n(s.BufFind(1, "Q")); }, "-40"},
        AccessorRow{"FindNarrowExactFitAtTheEnd",
                    [](S s) { return n(s.BufFind(1, std::string_view("Q\0", 2))); }, "40"}),
    testing::RowName());

TEST_F(FileReader, OneFileAtATimeAndOnlyRegularFiles) {
    const auto first = tree.Add("a.bin", "first");
    ASSERT_EQ(scanner.OpenScanFile(first.string()), 0);
    EXPECT_EQ(scanner.OpenScanFile(tree.Add("b.bin", "second").string()), 1);
    EXPECT_EQ(scanner.ScanFileLength(), 5) << "the first file stays open";
    scanner.CloseScanFile();
    ASSERT_EQ(::mkfifo((tree.Root() / "pipe").c_str(), 0644), 0);
    EXPECT_EQ(scanner.OpenScanFile((tree.Root() / "pipe").string()), 1) << "never a FIFO";
    EXPECT_EQ(scanner.OpenScanFile(tree.Root().string()), 1);
    EXPECT_EQ(scanner.OpenScanFile((tree.Root() / "missing").string()), 1);
}

} // namespace
} // namespace kestrel
