#include <climits>
#include <functional>
#include <ostream>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "file_reader.h"
#include "recording_sink.h"
#include "temp_tree.h"

namespace kestrel {
namespace {

// The block reader on a file whose byte i is i % 251 + 1, never 0.
class FileReaderTest : public ::testing::Test {
protected:
    void Open(std::int64_t length) {
        const auto bytes = fixtures::CountingBytes(static_cast<std::size_t>(length));
        ASSERT_EQ(reader.OpenScanFile(tree.Add("scan.bin", bytes).string()), 0);
    }

    fixtures::TempTree tree;
    FileReader reader;
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

void PrintTo(const BlockRow& r, std::ostream* os) {
    *os << r.name << ": length " << r.length << ", " << r.count << " at " << r.at << " give "
        << r.fill << " of " << r.size << "; seek " << r.seek << " from " << r.origin << " gives "
        << r.result << " at " << r.after;
}

class Block : public FileReaderTest, public ::testing::WithParamInterface<BlockRow> {};

TEST_P(Block, ReadThenSeek) {
    const BlockRow& row = GetParam();
    Open(row.length);
    reader.ReadBlock(4);
    std::int64_t offset = row.at;
    reader.SeekScanFile(offset, 0);
    EXPECT_EQ(reader.ReadBlock(row.count), row.fill);
    EXPECT_EQ(std::ssize(reader.Block()), row.size);
    if (row.fill > 0) {
        EXPECT_EQ(reader.BufByte(row.fill - 1), (row.at + row.fill - 1) % 251 + 1);
    }
    if (row.count <= 0) {
        EXPECT_EQ(reader.BufByte(3), 4) << "the block read before is kept";
    } else if (row.fill < row.size) {
        EXPECT_EQ(reader.BufByte(row.fill), 0) << "the tail past the bytes read is 0";
    }
    offset = row.seek;
    EXPECT_EQ(reader.SeekScanFile(offset, row.origin), row.result);
    EXPECT_EQ(offset, row.after);
}

INSTANTIATE_TEST_SUITE_P(Rules, Block,
                         ::testing::ValuesIn(std::vector<BlockRow>{
                             {"ShortReadKeepsTheRequestedSize", 100, 0, 512, 100, 512, 0, 1, 1, 0},
                             {"SecondOverlappingBlock", 10000, 7936, 8192, 2064, 8192, 0, 1, 1, 0},
                             {"BackToOverlapABlock", 10000, 0, 8192, 8192, 8192, -256, 1, 0, 7936},
                             {"CurrentAfterABlock", 5000, 1000, 300, 300, 300, 0, 1, 0, 1300},
                             {"LastByteAndBackFromIt", 5000, 4999, 16, 1, 16, 0, 2, 0, 4999},
                             {"ClippedToTheLargestBlock", 200000, 0, 1000000000, 65536, 65536, 0, 1,
                              0, 65536},
                             {"ZeroRequestKeepsTheBlock", 5000, 0, 0, 0, 4, 4999, 0, 0, 4999},
                             {"NegativeRequestKeepsTheBlock", 5000, 0, -5, -5, 4, 5000, 0, 1, 5000},
                             {"EmptyFileFromStart", 0, 0, 16, 0, 16, 0, 0, 1, 0},
                             {"EmptyFileFromCurrent", 0, 0, 16, 0, 16, 0, 1, 1, 0},
                             {"FromStartBeforeStart", 5000, 0, 4, 4, 4, -1, 0, 1, -1},
                             {"BackToTheStart", 5000, 0, 4, 4, 4, 4999, 2, 0, 0},
                             {"BackBeforeTheStart", 5000, 0, 4, 4, 4, 5000, 2, 1, 5000},
                             {"BackTooFar", 5000, 0, 4, 4, 4, LLONG_MIN, 2, 1, LLONG_MIN},
                             {"UnknownOrigin", 5000, 0, 4, 4, 4, 7, 9, 0, 7}}),
                         testing::RowName());

struct AccessorRow {
    const char* name;
    std::function<std::string(const FileReader&)> read;
    std::string expected;
    std::int64_t block = 41; // the block read of the file below
};

void PrintTo(const AccessorRow& r, std::ostream* os) {
    *os << r.name << ": \"" << r.expected << "\" from a block of " << r.block;
}

// Their plain reads are the golden output's; these are their edges. The
// block's last byte is not 0, so a read that runs one byte long shows.
class Accessor : public FileReaderTest, public ::testing::WithParamInterface<AccessorRow> {};

// The 41 bytes of the file: 0x1234, 0x80000000, a counted "A\0B", "KEY\0\0VAL\0",
// the 16-bit codes K 0 0 V U+263A W 0, a 16-bit "Q" and "NOZERO" that ends it.
TEST_P(Accessor, ReadsInsideTheBlockOnly) {
    const auto file = fixtures::Describe(R"({"put": [
        {"at": 0, "u16": 4660}, {"at": 2, "u32": 2147483648}, {"at": 6, "counted": "A\u0000B"},
        {"at": 10, "text": "KEY\u0000\u0000VAL\u0000"}, {"at": 19, "wide": "K\u0000\u0000V☺W"},
        {"at": 33, "wide": "Q"}, {"at": 35, "text": "NOZERO"}]})");
    ASSERT_EQ(reader.OpenScanFile(tree.Add("scan.bin", fixtures::BuildSample(file)).string()), 0);
    ASSERT_EQ(reader.ReadBlock(GetParam().block), std::min<std::int64_t>(GetParam().block, 41));
    EXPECT_EQ(GetParam().read(reader), GetParam().expected);
}

using R = const FileReader&;
const auto n = [](std::int64_t value) { return std::to_string(value); };

INSTANTIATE_TEST_SUITE_P(
    Rules, Accessor,
    ::testing::ValuesIn(std::vector<AccessorRow>{
        {"DwordIsSigned", [](R r) { return n(r.BufDword(2)); }, "-2147483648"},
        {"WordExactFitAtTheEnd", [](R r) { return n(r.BufWord(39)); }, "20306"},
        {"WordOnePastTheEnd", [](R r) { return n(r.BufWord(40)); }, "0"},
        {"DwordExactFitAtTheEnd", [](R r) { return n(r.BufDword(37)); }, "1330791770"},
        {"DwordOnePastTheEnd", [](R r) { return n(r.BufDword(38)); }, "0"},
        {"ByteBeforeTheStart", [](R r) { return n(r.BufByte(-1)); }, "0"},
        {"ByteOnePastTheEnd", [](R r) { return n(r.BufByte(41)); }, "0"},
        {"CountedTextHoldsAZero", [](R r) { return r.BufCountedString(6); },
         std::string("A\0B", 3)},
        {"CountedTextCutAtTheEnd", [](R r) { return r.BufCountedString(38); }, "RO"},
        {"CountedNameCutAtTheBytesRead",
         [](R r) { return r.BufCountedName(38) + "|" + r.BufCountedName(6); },
         std::string("RO|A\0B", 6), 48},
        {"SecondTextNeedsAZero", [](R r) { return r.BufSecondString(35, 6); }, ""},
        {"TextFromAZero", [](R r) { return r.BufZString(14); }, ""},
        {"TextCutAtTheEnd", [](R r) { return r.BufZString(39); }, "ERO"},
        {"CharsCutAtTheEnd", [](R r) { return r.BufChars(38, 100); }, "ERO"},
        {"WideTextAfterKeyAndZeros", [](R r) { return r.BufWideText(19, 14); }, "V_W"},
        {"WideStringOfWholeCodes", [](R r) { return r.BufWideString(25, 3); }, "V"},
        {"WideStringFromAZero", [](R r) { return r.BufWideString(21, 10); }, ""},
        {"WideStringCutAtTheEnd", [](R r) { return r.BufWideString(36, 100); }, "__"},
        {"FindWideFirstAtOneIndex", [](R r) { return n(r.BufFind(12, "K")); }, "-20"},
        {"FindWideExactFitAtTheEnd", [](R r) { return n(r.BufFind(1, "Q")); }, "-34", 35},
        {"FindLastByteNarrowOnly", [](R r) { return n(r.BufFind(1, "Q")); }, "34", 34},
        {"FindNarrowOnePastTheEnd", [](R r) { return n(r.BufFind(38, "OX")); }, "0"},
        {"FindNarrowExactFitAtTheEnd", [](R r) { return n(r.BufFind(1, "RO")); }, "40"},
        {"MatchNarrowExactFitAtTheEnd",
         [](R r) { return n(r.BufMatchAt(40, "RO")) + " " + n(r.BufMatchAt(41, "O")); }, "40 41"}}),
    testing::RowName());

TEST_F(FileReaderTest, OneFileAtATimeAndOnlyRegularFiles) {
    const auto first = tree.Add("a.bin", "first");
    ASSERT_EQ(reader.OpenScanFile(first.string()), 0);
    EXPECT_EQ(reader.OpenScanFile(tree.Add("b.bin", "second").string()), 1);
    EXPECT_EQ(reader.ScanFileLength(), 5) << "the first file stays open";
    reader.CloseScanFile();
    ASSERT_EQ(::mkfifo((tree.Root() / "pipe").c_str(), 0644), 0);
    EXPECT_EQ(reader.OpenScanFile((tree.Root() / "pipe").string()), 1) << "never a FIFO";
    EXPECT_EQ(reader.OpenScanFile(tree.Root().string()), 1);
    EXPECT_EQ(reader.OpenScanFile((tree.Root() / "missing").string()), 1);
}

} // namespace
} // namespace kestrel
