#include <sys/stat.h>

#include <gtest/gtest.h>

#include "byte_writer.h"
#include "mz_builder.h"
#include "quill_scan.h"
#include "recording_sink.h"
#include "temp_tree.h"

namespace kestrel {
namespace {

using fixtures::ByteWriter;

class ClassifyTest : public ::testing::Test {
protected:
    // Scans one file of the tree and gives the record of its (only) report.
    const ScanRecord& Scan(const std::string& name, const fixtures::Bytes& bytes) {
        tree.Add(name, bytes);
        sink.reports.clear();
        sink.lines.clear();
        scanner.ScanFile(tree.RootWithSeparator(), name);
        EXPECT_EQ(sink.reports.size(), 1u) << name;
        if (sink.reports.empty())
            sink.reports.push_back({});
        return sink.reports.back().record;
    }

    static fixtures::Bytes MzWith(std::uint16_t relocationTableOffset, std::uint32_t newHeader,
                                  std::string_view signature = {}) {
        ByteWriter image(1024);
        fixtures::PutMzHeader(image, {relocationTableOffset, newHeader});
        if (!signature.empty())
            image.PutText(newHeader, signature);
        return image.Data();
    }

    fixtures::TempTree tree;
    testing::RecordingSink sink;
    QuillScan scanner{sink};
};

TEST_F(ClassifyTest, NewHeaderNeedsARelocationOffsetOfSixteensFromSixtyFour) {
    EXPECT_EQ(Scan("A.EXE", MzWith(0x40, 0x80, "PE")).ExeSignature, "PE");
    EXPECT_EQ(Scan("B.EXE", MzWith(0x1C, 0x80, "PE")).ExeSignature, "MZ");
    EXPECT_EQ(Scan("C.EXE", MzWith(0x30, 0x80, "PE")).ExeSignature, "MZ");
    EXPECT_EQ(Scan("D.EXE", MzWith(0x40, 0x80, "NE")).ExeSignature, "NE");
    EXPECT_EQ(Scan("E.EXE", MzWith(0x40, 0x80, "LX")).ExeSignature, "LX");
    EXPECT_EQ(Scan("F.EXE", MzWith(0x40, 0x80, "BW")).ExeSignature, "BW");
}

TEST_F(ClassifyTest, NewHeaderPointerOutsideTheFileReadsOnFromTheFirstBlock) {
    // 600 bytes: the 300-byte block comes from offset 512, where "XY" stands.
    ByteWriter image(600);
    fixtures::PutMzHeader(image, {0x40, 0x10000});
    image.PutText(512, "XY");
    EXPECT_EQ(Scan("FAR.EXE", image.Data()).ExeSignature, "XY");
    // A file of 512 bytes: the block lies past the end and is all zeros.
    ByteWriter small(512);
    fixtures::PutMzHeader(small, {0x40, 0x80000000u});
    EXPECT_EQ(Scan("NEG.EXE", small.Data()).ExeSignature, std::string(2, '\0'));
    EXPECT_EQ(sink.lines[0].substr(18, 4), "    ") << "shown as spaces in the list";
}

TEST_F(ClassifyTest, SignaturesMatchInSixteenBitFormToo) {
    ByteWriter wideMz(600);
    wideMz.PutWideText(0, "MZ");
    EXPECT_EQ(Scan("WIDE.BIN", wideMz.Data()).ExeSignature, "MZ");
    ByteWriter nlm(600);
    nlm.PutWideText(0, "NetWare Loadable Module");
    EXPECT_EQ(Scan("WIDE.DAT", nlm.Data()).ExeSignature, "  ");
}

TEST_F(ClassifyTest, NwProcHeaderGivesNameAndDescription) {
    ByteWriter image(512);
    fixtures::PutMzHeader(image, {0x1C, 0});
    image.PutText(40, "NWProc").PutZText(74, "NWUTIL").PutU16(138, 2);
    image.PutZText(172, "Workstation utility");
    const ScanRecord& record = Scan("NWUTIL.EXE", image.Data());
    EXPECT_EQ(record.HdrName, "NWUTIL");
    EXPECT_EQ(record.HdrDescription, "Workstation utility");
    EXPECT_EQ(record.ExeSignature, "  ");
}

TEST_F(ClassifyTest, NwProcHeaderThatCannotBeReadLeavesNameAndDescriptionEmpty) {
    ByteWriter wide(512);
    fixtures::PutMzHeader(wide, {0x40, 0x80});
    wide.PutWideText(40, "NWProc").PutZText(74, "NAME");
    EXPECT_EQ(Scan("WIDE.EXE", wide.Data()).HdrName, "");
    ByteWriter late(512);
    fixtures::PutMzHeader(late, {0x40, 0x80});
    late.PutText(413, "NWProc").PutZText(447, "NAME");
    EXPECT_EQ(Scan("LATE.EXE", late.Data()).HdrName, "") << "its entry count lies past the block";
    ByteWriter farDescription(512);
    fixtures::PutMzHeader(farDescription, {0x40, 0x80});
    farDescription.PutText(100, "NWProc").PutZText(134, "NAME").PutU16(198, 30);
    const ScanRecord& record = Scan("FAR.EXE", farDescription.Data());
    EXPECT_EQ(record.HdrName, "NAME");
    EXPECT_EQ(record.HdrDescription, "");
}

TEST_F(ClassifyTest, DriverNamesTakeTheLengthPrefixedDescription) {
    ByteWriter lan;
    lan.PutU8(0, 0).PutU8(1, 3).PutText(2, "AB").PutCountedText(4, "XY");
    EXPECT_EQ(Scan("DRIVER.LAN", lan.Data()).HdrDescription, "XY");
    ByteWriter dsk;
    dsk.PutU8(0, 255).PutU8(2, 5).PutCountedText(7, "Disk driver");
    EXPECT_EQ(Scan("driver.dsk", dsk.Data()).HdrDescription, "Disk driver");
    ByteWriter edge;
    edge.PutU8(0, 255).PutU8(2, 255).PutU8(257, 255);
    EXPECT_EQ(Scan("EDGE.DSK", edge.Data()).HdrDescription, std::string(254, '\0'))
        << "a description running past the block is cut at its end";
    // The name test comes before the MZ test.
    EXPECT_EQ(Scan("X.LAN", MzWith(0x40, 0x80, "PE")).ExeSignature, "  ");
}

TEST_F(ClassifyTest, EveryFileThatOpensGetsExactlyOneReport) {
    Scan("GAME.COM", MzWith(0x1C, 0));
    Scan("GAME2.COM", fixtures::Bytes{'n', 'o', 't'});
    Scan("NOTES.TXT", fixtures::Bytes{});
    Scan("README.LANG", fixtures::Bytes(3, 0));
    EXPECT_EQ(sink.lines[0].substr(0, 11), "README.LANG");
}

TEST_F(ClassifyTest, FileThatCannotBeOpenedGivesNoLine) {
    sink.lines.clear();
    scanner.ScanFile(tree.RootWithSeparator(), "MISSING.EXE");
    const auto fifo = tree.Root() / "PIPE.EXE";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    scanner.ScanFile(tree.RootWithSeparator(), "PIPE.EXE");
    EXPECT_TRUE(sink.lines.empty());
    EXPECT_TRUE(sink.reports.empty());
}

TEST_F(ClassifyTest, BufMatchAtComparesWideFormFirstAndStaysInside) {
    scanner.FileBuffer = ByteWriter().PutWideText(0, "MZ").PutText(8, "MZ").Data();
    EXPECT_EQ(scanner.BufMatchAt(1, "MZ"), -1);
    EXPECT_EQ(scanner.BufMatchAt(9, "MZ"), 9);
    EXPECT_EQ(scanner.BufMatchAt(10, "MZ"), 0) << "runs past the end";
    EXPECT_EQ(scanner.BufMatchAt(0, "MZ"), 0);
    EXPECT_EQ(scanner.BufMatchAt(2, "MZ"), 0);
}

} // namespace
} // namespace kestrel
