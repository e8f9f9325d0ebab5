#include <string>

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
using fixtures::TextLines;

// The record of one scan of `image`, written as a file called `name`.
ScanRecord ScanProgram(const ByteWriter& image, const std::string& name = "PROG.EXE") {
    return testing::ScanOneRecord(image.Data(), name);
}

// A DOS program holding `text` from offset 0x101.
ByteWriter ProgramWithText(const std::string& text, std::size_t size = 2048) {
    ByteWriter image = fixtures::MakeDosProgram(size);
    image.PutText(0x101, text);
    return image;
}

// A length byte and the text.
std::string Counted(const std::string& text) {
    return static_cast<char>(text.size()) + text;
}

// The version, overlay and copyright texts, as one text.
std::string Markers(const ScanRecord& r) {
    return r.NwVersion + "|" + r.NwOverlay + "|" + r.CopyrightText;
}

TEST(MarkersTest, NarrowMarkerValues) {
    const struct {
        std::string_view marker;
        std::string value;
        std::string markers;
    } cases[] = {
        {kVersionMarker, "3.1", "3.1||"},
        {kVersionMarker, Counted("4.10a"), "4.10a||"},
        {kVersionMarker, "4.10 CoPyRiGhT 1995", "4.10 ||"},
        {kVersionMarker, "  4.10  \nsecond line", "4.10||"},
        {kCopyrightMarker, Counted("(c) 1995 X"), "||(c) 1995 X"},
        {kCopyrightMarker, Counted("Copyright 1995 X"), "||Copyright 1995 X"},
        {kCopyrightMarker, "Copyright 1995 X", "||Copyright 1995 X"},
        {kOverlayMarker, Counted("X.OVL"), "|" + Counted("X.OVL") + "|"}, // an overlay keeps it
    };
    for (const auto& c : cases) {
        ByteWriter image = fixtures::MakeDosProgram();
        fixtures::PutMarker(image, 0x100, c.marker, c.value);
        EXPECT_EQ(Markers(ScanProgram(image)), c.markers) << c.value;
    }
    // A value of two characters is no value: the version-like text is guessed.
    ByteWriter image = ProgramWithText(TextLines({"Tool 2.5 beta"}));
    fixtures::PutMarker(image, 0x200, kVersionMarker, "3.");
    const ScanRecord r = ScanProgram(image);
    EXPECT_EQ(r.NwVersion, "");
    EXPECT_EQ(r.GuessText, "Tool 2.5 beta\r\n");
}

TEST(MarkersTest, WideMarkersBesideAnNwProcHeader) {
    ByteWriter image = fixtures::MakeDosProgram();
    fixtures::PutWideMarker(image, 0x100, kVersionMarker, "4.11\r\nRev B");
    fixtures::PutWideMarker(image, 0x200, kOverlayMarker, "ABCDEFGH", 12);
    fixtures::PutWideMarker(image, 0x300, kCopyrightMarker, " (C) 1996 ");
    // A NetWare-aware program keeps the fields of its "NWProc" header beside them.
    fixtures::PutNwProcHeader(image, {.name = "NWUTIL", .entryCount = 2, .description = "Utility"});
    const ScanRecord r = ScanProgram(image);
    EXPECT_EQ(r.ExeSignature + r.HdrName + "|" + r.HdrDescription, "  NWUTIL|Utility");
    // The count before the marker decides the length: no line cut, no trimming.
    EXPECT_EQ(Markers(r), "4.11\r\nRev B|ABCD| (C) 1996 ");
    // A 16-bit marker at the very start of the file has no count before it.
    ByteWriter overlay(64);
    overlay.PutWideText(0, kVersionMarker).PutWideText(16, "4.11");
    EXPECT_EQ(ScanProgram(overlay, "PROG.OVL").NwVersion, "");
}

TEST(MarkersTest, BlocksOverlapAndEveryBlockIsSearched) {
    ByteWriter image = ProgramWithText(TextLines({"Alpha 1.0 build"}), 30000);
    fixtures::PutMarker(image, 0x200, kOverlayMarker, "ONE");
    fixtures::PutMarker(image, 0x300, kOverlayMarker, "TWO");
    // Straddles the end of the first block: found in the second, which
    // starts 256 bytes before it.
    fixtures::PutMarker(image, 8188, kCopyrightMarker, "(C) 1996 Acme");
    // Version-like lines are no longer guessed once a version marker is found.
    fixtures::PutMarker(image, 10000, kVersionMarker, "2.0");
    image.PutText(10101, TextLines({"Beta 2.0 build"}));
    image.PutText(20001, TextLines({"Gamma 3.0 build"}));
    const ScanRecord r = ScanProgram(image);
    EXPECT_EQ(Markers(r), "2.0|ONE|(C) 1996 Acme");
    EXPECT_EQ(r.GuessText, "Alpha 1.0 build\r\n");
    fixtures::PutMarker(image, 25000, kOverlayMarker, "THREE");
    EXPECT_EQ(ScanProgram(image).NwOverlay, "THREE") << "a later block's find replaces";

    // Whole in the first block, and the second block starts inside it, at 7936.
    image = ProgramWithText("", 20000);
    image.PutText(7910, TextLines({"Release of the program, version 2.5 final"}));
    // Its number ends in the last three bytes of the first block, whose
    // reading stops there; the second block sees the whole line.
    image.PutText(8180, TextLines({"Driver 7.25 of the kit"}));
    image.PutText(12001, TextLines({"Driver 7.25 of the kit", "version 2.5 final"}));
    EXPECT_EQ(ScanProgram(image).GuessText,
              "Release of the program, version 2.5 final\r\nDriver 7.25 of the kit\r\n");
}

// The guess at the first dot of `text`, in 8-bit or 16-bit characters from
// `index` of a zeroed block of 128 bytes.
std::string GuessAt(std::string_view text, bool wide = false, std::size_t index = 8) {
    testing::RecordingSink sink;
    QuillScan scanner(sink);
    ByteWriter block(128);
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
    for (const bool wide : {false, true}) {
        // Each character that may lead or end a number, one or two digits
        // before the dot and up to four after it, a letter after the number.
        for (const std::string text : {"Version 2.0", "v2.0 x", ":2.0 x", "\t2.0 x", "a 1.0, b",
                                       "a 1.0) b", "a 1.0. b", "a 1.0\tb", "a 4.10b c"})
            EXPECT_EQ(GuessAt(text, wide), text) << wide;
        for (const std::string text :
             {"ver2.0 x", "a 123.0 x", "a 1.23456 x", "a 1.0- x", "a 1.0bc x", "a 1.x", "a .5 x"})
            EXPECT_EQ(GuessAt(text, wide), "") << text << wide;
        // The line ends at a line break, loses the spaces around it and a
        // length byte before it.
        const std::string lengthByte = "$" + std::string(28, 'a') + " 1.0 end"; // '$' is 36
        EXPECT_EQ(GuessAt(lengthByte, wide), lengthByte.substr(1));
        EXPECT_EQ(GuessAt("  Disk utility V3.12a (beta)\r\n", wide), "Disk utility V3.12a (beta)");
        EXPECT_EQ(GuessAt("\n12.3456 x", wide), "12.3456 x");
    }
    // The code before the number, or the terminator after it, would lie
    // outside the block; a number far enough from its end.
    EXPECT_EQ(GuessAt("1.0 x", false, 0), "");
    EXPECT_EQ(GuessAt(" 1.0", false, 124), "");
    EXPECT_EQ(GuessAt(" 1.0 ", false, 120), "1.0");
    EXPECT_EQ(GuessAt("1.0 x", true, 1), "");
    EXPECT_EQ(GuessAt(" 1.0a", true, 118), "");
    EXPECT_EQ(GuessAt(" 1.0 ", true, 110), "1.0");
    EXPECT_EQ(GuessAt("a 1.0, b", true, 9), "a 1.0, b"); // odd alignment
}

TEST(MarkersTest, LinesWithAFilterWordAreDropped) {
    for (const std::string word :
         {"requir", "dos",    " in ",      "8088 macro ", "asm86.86", " must ", "detected",
          "later",  " than ", "nwasmlib",  " you",        " is ",     " does ", " take ",
          " mb",    " with ", "cpi",       "..",          "khz",      " x ",    "tc86 bor",
          " lpi",   " lpp",   "oint exch", "findfont",    "gsave ",   "pt.",    "1.2m",
          "1.4m",   "1.44m",  "pitch"}) {
        const ByteWriter image = ProgramWithText(
            TextLines({"Tool 1.0 " + AsciiUpper(word) + "end", "Kit 2.0 " + word + "end"}));
        EXPECT_EQ(ScanProgram(image).GuessText, "") << word;
    }
    EXPECT_EQ(ScanProgram(ProgramWithText(TextLines({"Tool 1.0 end"}))).GuessText,
              "Tool 1.0 end\r\n");
}

TEST(MarkersTest, AGuessStandingInTheCollectionIsNotAddedAgain) {
    // Thousands of lines, each repeated, many of them parts of earlier ones:
    // the collection is what a plain substring test over it gives. One line
    // every 64 bytes: as 7936, the distance of two blocks, is a multiple of
    // 64, no block edge cuts a line.
    ByteWriter image;
    std::string expected;
    for (int i = 3000; i > 0; --i) {
        const std::string line =
            "Build 1." + std::to_string(i % 1000) + (i % 7 == 0 ? " final" : "");
        const std::size_t offset = 1 + 128 * static_cast<std::size_t>(3000 - i);
        image.PutText(offset, line).PutText(offset + 64, line + " ");
        if (expected.find(line) == std::string::npos)
            expected += line + "\r\n";
    }
    EXPECT_EQ(ScanProgram(image, "PROG.OVL").GuessText, expected);
    // Several numbers on one line give one guess, the rejected ones included.
    EXPECT_EQ(
        ScanProgram(ProgramWithText(TextLines({"ver2.0 then V1.0 and V2.0, 3.0 done"}))).GuessText,
        "ver2.0 then V1.0 and V2.0, 3.0 done\r\n");
}

TEST(MarkersTest, SplitCopyrightText) {
    testing::RecordingSink sink;
    QuillScan scanner(sink);
    std::string text = "Tool 1.0\r\nTool 2.0 (c) 1994 Acme\r\nTool 3.0\r\n";
    EXPECT_EQ(scanner.SplitCopyrightText(text), "(c) 1994 Acme\r\nTool 3.0\r\n");
    EXPECT_EQ(text, "Tool 1.0\r\nTool 2.0 ");
    // A notice that opens the text keeps its first line; the rest goes back.
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
    ByteWriter image = ProgramWithText(TextLines({"Tool 1.0 x", "Tool 2.0 (c) 1994 Acme"}));
    ScanRecord r = ScanProgram(image);
    EXPECT_EQ(r.CopyrightText, "(c) 1994 Acme\r\n");
    EXPECT_EQ(r.GuessText, "Tool 1.0 x\r\nTool 2.0 ");
    fixtures::PutMarker(image, 0x300, kCopyrightMarker, "Acme Software");
    r = ScanProgram(image);
    EXPECT_EQ(r.CopyrightText, "Acme Software");
    EXPECT_EQ(r.GuessText, "Tool 1.0 x\r\nTool 2.0 (c) 1994 Acme\r\n");
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
            next() % 2 == 0 ? image.PutText(at, piece) : image.PutWideText(at, piece);
        }
        tree.Add("X.OVL", image.Data());
        scanner.ScanFile(tree.RootWithSeparator(), "X.OVL");
    }
    EXPECT_EQ(sink.reports.size(), 100u);
}

} // namespace
} // namespace kestrel
