#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "dos_builder.h"
#include "quill_scan.h"
#include "recording_sink.h"
#include "temp_tree.h"
#include "text.h"

namespace kestrel {
namespace {

using fixtures::ByteWriter;
using fixtures::kCopyrightMarker;
using fixtures::kOverlayMarker;
using fixtures::kVersionMarker;

testing::RecordingSink Scan(const std::string& name, const fixtures::Bytes& bytes) {
    fixtures::TempTree tree;
    tree.Add(name, bytes);
    testing::RecordingSink sink;
    QuillScan scanner(sink);
    scanner.ScanFile(tree.RootWithSeparator(), name);
    return sink;
}

ScanRecord ScanProgram(const ByteWriter& image) {
    const testing::RecordingSink sink = Scan("PROG.EXE", image.Data());
    EXPECT_EQ(sink.reports.size(), 1u);
    return sink.reports.empty() ? ScanRecord{} : sink.reports[0].record;
}

TEST(MarkersTest, NarrowMarkersAndTheirReportLines) {
    ByteWriter image = fixtures::MakeDosProgram();
    fixtures::PutMarker(image, 0x100, kVersionMarker, "3.12 Rev A\r\nsecond line");
    fixtures::PutMarker(image, 0x200, kOverlayMarker, "MAINMENU.OVL");
    fixtures::PutMarker(image, 0x300, kCopyrightMarker, "(C) 1995 Acme Software");
    const testing::RecordingSink sink = Scan("PROG.EXE", image.Data());
    ASSERT_EQ(sink.reports.size(), 1u);
    EXPECT_EQ(sink.reports[0].record.ExeSignature, "MZ");
    EXPECT_EQ(sink.lines, (std::vector<std::string>{
                              sink.lines[0],
                              " NWVersion        :3.12 Rev A",
                              " NWOverlay        :MAINMENU.OVL",
                              " Copyright        :(C) 1995 Acme Software",
                          }));
}

// A length byte and the text.
std::string Counted(const std::string& text) {
    return static_cast<char>(text.size()) + text;
}

TEST(MarkersTest, NarrowMarkerValues) {
    struct Case {
        std::string_view marker;
        std::string value;
        std::string expected;
    };
    const Case cases[] = {
        {kVersionMarker, "3.1", "3.1"},
        {kVersionMarker, Counted("4.10a"), "4.10a"},
        {kVersionMarker, "4.10 CoPyRiGhT 1995", "4.10 "},
        {kVersionMarker, "  4.10  \n", "4.10"},
        {kCopyrightMarker, Counted("(c) 1995 X"), "(c) 1995 X"},
        {kCopyrightMarker, Counted("Copyright 1995 X"), "Copyright 1995 X"},
        {kCopyrightMarker, "Copyright 1995 X", "Copyright 1995 X"},
        {kOverlayMarker, Counted("X.OVL"), Counted("X.OVL")}, // an overlay keeps it
    };
    for (const Case& c : cases) {
        ByteWriter image = fixtures::MakeDosProgram();
        fixtures::PutMarker(image, 0x100, c.marker, c.value);
        const ScanRecord r = ScanProgram(image);
        const std::string& field = c.marker == kVersionMarker   ? r.NwVersion
                                   : c.marker == kOverlayMarker ? r.NwOverlay
                                                                : r.CopyrightText;
        EXPECT_EQ(field, c.expected) << c.value;
    }

    // A value of two characters is no value: the version-like text is guessed.
    ByteWriter image = fixtures::MakeDosProgram();
    fixtures::PutMarker(image, 0x100, kVersionMarker, "3.");
    image.PutText(0x201, fixtures::TextLines({"Tool 2.5 beta"}));
    const ScanRecord r = ScanProgram(image);
    EXPECT_EQ(r.NwVersion, "");
    EXPECT_EQ(r.GuessText, "Tool 2.5 beta\r\n");
}

TEST(MarkersTest, WideMarkers) {
    ByteWriter image = fixtures::MakeDosProgram();
    fixtures::PutWideMarker(image, 0x100, kVersionMarker, "4.11\r\nRev B");
    fixtures::PutWideMarker(image, 0x200, kOverlayMarker, "ABCDEFGH", 12);
    fixtures::PutWideMarker(image, 0x300, kCopyrightMarker, " (C) 1996 ");
    ScanRecord r = ScanProgram(image);
    EXPECT_EQ(r.NwVersion, "4.11\r\nRev B"); // no line cut, no trimming
    EXPECT_EQ(r.NwOverlay, "ABCD");
    EXPECT_EQ(r.CopyrightText, " (C) 1996 ");

    // A 16-bit marker at the very start of the file has no count before it.
    ByteWriter overlay(64);
    overlay.PutWideText(0, kVersionMarker).PutWideText(16, "4.11");
    EXPECT_EQ(Scan("PROG.OVL", overlay.Data()).reports[0].record.NwVersion, "");
}

TEST(MarkersTest, EveryBlockIsSearchedFromItsStartAndLaterFindsReplace) {
    ByteWriter image = fixtures::MakeDosProgram(30000);
    fixtures::PutMarker(image, 0x100, kOverlayMarker, "ONE");
    fixtures::PutMarker(image, 0x200, kOverlayMarker, "TWO");
    // Straddles the end of the first block: found in the second, which
    // starts 256 bytes before it.
    fixtures::PutMarker(image, 8188, kCopyrightMarker, "(C) 1996 Acme");
    ScanRecord r = ScanProgram(image);
    EXPECT_EQ(r.NwOverlay, "ONE");
    EXPECT_EQ(r.CopyrightText, "(C) 1996 Acme");

    fixtures::PutMarker(image, 25000, kOverlayMarker, "THREE");
    EXPECT_EQ(ScanProgram(image).NwOverlay, "THREE");
}

TEST(MarkersTest, GuessesStopOnceAVersionMarkerIsFound) {
    ByteWriter image = fixtures::MakeDosProgram(30000);
    image.PutText(0x101, fixtures::TextLines({"Alpha 1.0 build"}));
    fixtures::PutMarker(image, 10000, kVersionMarker, "2.0");
    image.PutText(10101, fixtures::TextLines({"Beta 2.0 build"}));
    image.PutText(20001, fixtures::TextLines({"Gamma 3.0 build"}));
    EXPECT_EQ(ScanProgram(image).GuessText, "Alpha 1.0 build\r\n");
}

TEST(MarkersTest, LinesAcrossBlockEdgesAreGuessedOnce) {
    ByteWriter image = fixtures::MakeDosProgram(20000);
    // Whole in the first block; the second block starts inside it, at 7936.
    image.PutText(7910, fixtures::TextLines({"Release of the program, version 2.5 final"}));
    // Its number ends in the last three bytes of the first block, whose
    // reading stops there; the second block sees the whole line.
    image.PutText(8180, fixtures::TextLines({"Driver 7.25 of the kit"}));
    image.PutText(12001, fixtures::TextLines({"Driver 7.25 of the kit", "version 2.5 final"}));
    EXPECT_EQ(ScanProgram(image).GuessText,
              "Release of the program, version 2.5 final\r\nDriver 7.25 of the kit\r\n");
}

// The guess at the first dot of `text`, placed at `index` of a zeroed block.
std::string GuessAt(std::string_view text, std::size_t index = 8, bool wide = false,
                    std::size_t blockSize = 128) {
    testing::RecordingSink sink;
    QuillScan scanner(sink);
    ByteWriter block(blockSize);
    if (wide)
        block.PutWideText(index, text);
    else
        block.PutText(index, text);
    scanner.FileBuffer = block.Data();
    std::int64_t position = scanner.BufFind(1, ".");
    const std::string guess = scanner.VersionLineAt(position);
    EXPECT_GT(position, 0);
    return guess;
}

TEST(MarkersTest, VersionLineAtAcceptsAndRejects) {
    const std::string lengthByte = "$" + std::string(28, 'a') + " 1.0 end"; // '$' is 36
    const std::pair<std::string, std::string> cases[] = {
        {"  Disk utility V3.12a (beta)\r", "Disk utility V3.12a (beta)"},
        {"Version 2.0", "Version 2.0"},
        {"v2.0 x", "v2.0 x"},
        {":2.0 x", ":2.0 x"},
        {"\t2.0 x", "\t2.0 x"},
        {"\n12.3456 x", "12.3456 x"},
        {"a 1.0, b", "a 1.0, b"},
        {"a 1.0) b", "a 1.0) b"},
        {"a 1.0. b", "a 1.0. b"},
        {"a 1.0\tb", "a 1.0\tb"},
        {"a 1.0\r", "a 1.0"},
        {"a 4.10b c", "a 4.10b c"},
        {lengthByte, lengthByte.substr(1)},
        {"ver2.0 x", ""},
        {"size 123.4 x", ""},
        {"size 1.23456 x", ""},
        {"a 1.0- x", ""},
        {"a 1.0bc x", ""},
        {"a 1.x", ""},
        {"a .5 x", ""},
    };
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(GuessAt(text), expected) << text;
    EXPECT_EQ(GuessAt("1.0 x", 0), "");                  // no byte before the number
    EXPECT_EQ(GuessAt(" 1.0", 124, false, 128), "");     // too near the end of the block
    EXPECT_EQ(GuessAt(" 1.0 ", 120, false, 128), "1.0"); // far enough
}

TEST(MarkersTest, WideVersionLineAt) {
    EXPECT_EQ(GuessAt("  Disk utility V3.12a (beta)\r", 8, true), "Disk utility V3.12a (beta)");
    EXPECT_EQ(GuessAt("a 1.0, b", 9, true), "a 1.0, b"); // odd alignment
    EXPECT_EQ(GuessAt("ver2.0 x", 8, true), "");
    EXPECT_EQ(GuessAt("a 1.0- x", 8, true), "");
    EXPECT_EQ(GuessAt("a 123.0 x", 8, true), "");
    // The code before the number, or the terminator after it, would lie
    // outside the block.
    EXPECT_EQ(GuessAt("1.0 x", 1, true), "");
    EXPECT_EQ(GuessAt(" 1.0a", 118, true, 128), "");
    EXPECT_EQ(GuessAt(" 1.0 ", 110, true, 128), "1.0");
}

TEST(MarkersTest, LinesWithAFilterWordAreDropped) {
    const std::vector<std::string> words = {
        "requir", "dos",    " in ",      "8088 macro ", "asm86.86", " must ", "detected",
        "later",  " than ", "nwasmlib",  " you",        " is ",     " does ", " take ",
        " mb",    " with ", "cpi",       "..",          "khz",      " x ",    "tc86 bor",
        " lpi",   " lpp",   "oint exch", "findfont",    "gsave ",   "pt.",    "1.2m",
        "1.4m",   "1.44m",  "pitch"};
    for (const std::string& word : words) {
        ByteWriter image = fixtures::MakeDosProgram();
        image.PutText(0x101, fixtures::TextLines({"Tool 1.0 " + AsciiUpper(word) + "end",
                                                  "Kit 2.0 " + word + "end"}));
        EXPECT_EQ(ScanProgram(image).GuessText, "") << word;
    }
    ByteWriter image = fixtures::MakeDosProgram();
    image.PutText(0x101, fixtures::TextLines({"Tool 1.0 end"}));
    EXPECT_EQ(ScanProgram(image).GuessText, "Tool 1.0 end\r\n");
}

TEST(MarkersTest, AGuessStandingInTheCollectionIsNotAddedAgain) {
    // Thousands of lines, each repeated, many of them parts of earlier ones:
    // the collection is what a plain substring test over it gives.
    std::vector<std::string> lines;
    for (int i = 3000; i > 0; --i)
        lines.push_back("Build 1." + std::to_string(i % 1000) + (i % 7 == 0 ? " final" : ""));
    // One line every 64 bytes: as 7936, the distance of two blocks, is a
    // multiple of 64, no block edge cuts a line.
    ByteWriter image;
    std::string expected;
    std::size_t offset = 1;
    for (const std::string& line : lines) {
        image.PutText(offset, line).PutText(offset + 64, line + " ");
        offset += 128;
        if (expected.find(line) == std::string::npos)
            expected += line + "\r\n";
    }
    EXPECT_EQ(Scan("PROG.OVL", image.Data()).reports[0].record.GuessText, expected);

    // Several numbers on one line give one guess, the rejected ones included.
    ByteWriter program = fixtures::MakeDosProgram();
    program.PutText(0x101, fixtures::TextLines({"ver2.0 then V1.0 and V2.0, 3.0 done"}));
    EXPECT_EQ(ScanProgram(program).GuessText, "ver2.0 then V1.0 and V2.0, 3.0 done\r\n");
}

TEST(MarkersTest, SplitCopyrightText) {
    testing::RecordingSink sink;
    QuillScan scanner(sink);
    std::string text = "Tool 1.0\r\nTool 2.0 (c) 1994 Acme\r\nTool 3.0\r\n";
    EXPECT_EQ(scanner.SplitCopyrightText(text), "(c) 1994 Acme\r\nTool 3.0\r\n");
    EXPECT_EQ(text, "Tool 1.0\r\nTool 2.0 ");

    text = "Copyright 1994 Acme 1.0\r\nTool 2.0\r\nTool 3.0\r\n";
    EXPECT_EQ(scanner.SplitCopyrightText(text), "Copyright 1994 Acme 1.0");
    EXPECT_EQ(text, "Tool 2.0\r\nTool 3.0\r\n");

    // "(C)" is looked for before " C "; the earlier of it and "COPYRIGHT" wins.
    text = "Tool 1.0 C 1994 COPYRIGHT (C) X\r\n";
    EXPECT_EQ(scanner.SplitCopyrightText(text), "COPYRIGHT (C) X\r\n");
    text = "Tool 1.0 C 1994 x\r\n";
    EXPECT_EQ(scanner.SplitCopyrightText(text), " C 1994 x\r\n");

    text = "Tool 1.0\r\n";
    EXPECT_EQ(scanner.SplitCopyrightText(text), " C 1994 x\r\n"); // unchanged
    EXPECT_EQ(text, "Tool 1.0\r\n");

    // Through the scan: only without a copyright marker.
    ByteWriter image = fixtures::MakeDosProgram();
    image.PutText(0x101, fixtures::TextLines({"Tool 1.0 x", "Tool 2.0 (c) 1994 Acme"}));
    ScanRecord r = ScanProgram(image);
    EXPECT_EQ(r.CopyrightText, "(c) 1994 Acme\r\n");
    EXPECT_EQ(r.GuessText, "Tool 1.0 x\r\nTool 2.0 ");
    fixtures::PutMarker(image, 0x300, kCopyrightMarker, "Acme Software");
    r = ScanProgram(image);
    EXPECT_EQ(r.CopyrightText, "Acme Software");
    EXPECT_EQ(r.GuessText, "Tool 1.0 x\r\nTool 2.0 (c) 1994 Acme\r\n");
}

TEST(MarkersTest, NwProcProgramKeepsItsHeaderFieldsBesideTheMarkers) {
    ByteWriter image = fixtures::MakeDosProgram();
    fixtures::PutNwProcHeader(image, {.name = "NWUTIL", .entryCount = 2, .description = "Utility"});
    fixtures::PutMarker(image, 0x300, kVersionMarker, "1.02");
    const ScanRecord r = ScanProgram(image);
    EXPECT_EQ(r.ExeSignature, "  ");
    EXPECT_EQ(r.HdrName, "NWUTIL");
    EXPECT_EQ(r.HdrDescription, "Utility");
    EXPECT_EQ(r.NwVersion, "1.02");
}

TEST(MarkersTest, DamagedFilesAreScannedToTheirEnd) {
    // Random bytes sprinkled with markers, dots, digits and 16-bit text.
    std::uint32_t state = 54321;
    const auto next = [&] { return state = state * 1664525u + 1013904223u; };
    const std::string pieces[] = {"VeRsIoN=", "OvErLaY=", "CoPyRiGhT=", ".", "1.2", " V3.", "(c)"};
    fixtures::TempTree tree;
    testing::RecordingSink sink;
    QuillScan scanner(sink);
    for (int n = 0; n < 100; ++n) {
        ByteWriter image(1 + next() % 20000);
        for (std::size_t i = 0; i < image.Size(); ++i)
            image.PutU8(i, static_cast<std::uint8_t>(next() >> 24));
        for (int k = 0; k < 200; ++k) {
            const std::string& piece = pieces[next() % 7];
            const std::size_t at = next() % image.Size();
            if (next() % 2 == 0)
                image.PutText(at, piece);
            else
                image.PutWideText(at, piece);
        }
        tree.Add("X.OVL", image.Data());
        scanner.ScanFile(tree.RootWithSeparator(), "X.OVL");
    }
    EXPECT_EQ(sink.reports.size(), 100u);
}

} // namespace
} // namespace kestrel
