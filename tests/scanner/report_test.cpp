#include <gtest/gtest.h>

#include "quill_scan.h"
#include "recording_sink.h"
#include "temp_tree.h"

namespace kestrel {
namespace {

const std::string kLabelIndent(19, ' ');

// The composer on its own: a record filled by hand, reported under a name
// that begins with "*" so that no file date is looked up.
class ReportTest : public ::testing::Test {
protected:
    std::vector<std::string> Compose(const std::string& name = "*MODULE", std::int64_t size = 0) {
        sink.lines.clear();
        scanner.ComposeReport("/nowhere/", name, size);
        return sink.lines;
    }
    ScanRecord& record() { return scanner.Record; }

    testing::RecordingSink sink;
    QuillScan scanner{sink};
};

TEST_F(ReportTest, ClearedRecordGivesHeaderLineAlone) {
    const auto lines = Compose();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "*MODULE" + std::string(11, ' ') + "    " + std::string(13, ' ') + " ");
}

TEST_F(ReportTest, SizeColumnIsGroupedAndThirteenWide) {
    EXPECT_EQ(Compose("*M", 1234567)[0].substr(18), "        1,234,567 ");
    EXPECT_EQ(Compose("*M", 0)[0].substr(22), std::string(13, ' ') + " ");
    EXPECT_EQ(Compose("*M", -1234)[0].substr(22), "       -1,234 ");
    EXPECT_EQ(Compose("*M", 12345678901234)[0].substr(22), "12,345,678,901,234 ")
        << "a size wider than the column is printed whole";
    scanner.Locale.groupSeparator = "\u202F"; // narrow no-break space, three bytes
    EXPECT_EQ(Compose("*M", 1234567)[0].substr(22), "    1\u202F234\u202F567 ");
}

TEST_F(ReportTest, NameColumnCountsCharactersAndCutsCleanly) {
    EXPECT_EQ(Compose("*ABCDEFGHIJKLMNOPQRSTUVWX")[0].substr(0, 19), "*ABCDEFGHIJKLMNOPQ ");
    EXPECT_EQ(Compose("*")[0].substr(0, 19), "*" + std::string(18, ' '));
    EXPECT_EQ(Compose("*\xC3\xA9t\xC3\xA9")[0].substr(0, 20),
              "*\xC3\xA9t\xC3\xA9" + std::string(14, ' '));
    const std::string cut = Compose("*" + std::string(16, 'a') + "\xC3\xA9\xC3\xA9")[0];
    EXPECT_EQ(cut.substr(0, 20), "*" + std::string(16, 'a') + "\xC3\xA9 ");
    EXPECT_EQ(Compose("*\xFF")[0].substr(0, 5), "*\xEF\xBF\xBD ") << "an invalid byte is U+FFFD";
    EXPECT_EQ(Compose("*A\nB")[0].substr(0, 4), "*A B") << "no control character in a line";
}

TEST_F(ReportTest, LabelledValuesAreSplitWrappedAndFiltered) {
    record().HdrDescription = "First line\r\nSecond line";
    record().HdrImports = "CLIB    , MATHLIB ";
    record().CopyrightText = std::string(54, 'x') + " " + std::string(45, 'y');
    record().HdrName = std::string(70, 'z'); // nothing to break at: not shown
    record().HdrLong = "ab";                 // too short: not shown
    record().HdrDate = "abc";
    const auto lines = Compose();
    const std::vector<std::string> expected = {
        lines[0],
        " HDescription     :First line",
        " HDescription     :Second line",
        " HDate            :abc",
        " HImport          :clib    , mathlib",
        " Copyright        :" + std::string(54, 'x') + " ",
        kLabelIndent + std::string(45, 'y'),
    };
    EXPECT_EQ(lines, expected);
}

TEST_F(ReportTest, HideSwitchesDropTheirGroupsButNeverTheGuess) {
    record().HdrVersion = "4.11";
    record().HdrImports = "CLIB";
    record().CopyrightText = "(C) Novell";
    record().ResStrings[4] = {"LegalCopyright", "Copyright 1996"};
    record().ResStrings[5] = {"CompanyName", "Novell"};
    record().HdrName = "SERVER";
    record().GuessText = "Server 4.11";
    scanner.Layout.hideCompany = true;
    auto lines = Compose();
    EXPECT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[1], " HVersion         :4.11");
    EXPECT_EQ(lines[2], " HImport          :clib");
    EXPECT_EQ(lines[3], " HName            :SERVER");
    EXPECT_EQ(lines[4], " ??Guess          :Server 4.11");
    scanner.Layout = {.brief = false,
                      .hideVersion = true,
                      .hideImports = true,
                      .hideCompany = false,
                      .hideProgrammer = true};
    lines = Compose();
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[1], " Copyright        :(C) Novell");
    EXPECT_EQ(lines[2], " RCompany Name    :Novell") << "the company row comes first";
    EXPECT_EQ(lines[3], " RLegalCopyright  :Copyright 1996");
    record().NwVersion = "4.11";
    EXPECT_EQ(Compose().size(), 4u) << "no guess once a version marker was found";
}

TEST_F(ReportTest, ExtraVersionKeysFollowCommentsWithColumnNineteenColon) {
    record().ResStrings[9] = {"Comments", "Test build"};
    record().ResStrings[10] = {"PrivateBuild", "by QA"};
    record().ResStrings[11] = {"AVeryLongKeyNameBeyondTheColumn", "long"};
    record().ResStrings[12] = {"", "no key"};
    record().ResStringCount = 13;
    const auto lines = Compose();
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[1], " RComments        :Test build");
    EXPECT_EQ(lines[2], " RPrivateBuild    :by QA");
    EXPECT_EQ(lines[3], " RAVeryLongKeyName:long");
    EXPECT_EQ(lines[4], " R                :no key");
}

TEST_F(ReportTest, RecordTextsAreConvertedFromCodePage1252) {
    record().HdrDescription = "Caf\xE9 \x99"; // printable text keeps only ASCII
    record().HdrVersion = "1.0";
    record().ExeSignature = std::string("\x81\x00", 2);
    auto lines = Compose();
    EXPECT_EQ(lines[0].substr(19, 3), "   ") << "0x81 becomes the C1 control U+0081, then a space";
    EXPECT_EQ(lines[1], " HDescription     :Caf");
    scanner.Layout.brief = true;
    lines = Compose();
    EXPECT_EQ(lines[0], "*MODULE" + std::string(11, ' ') + std::string(8, ' ') +
                            "1.0 Caf\xC3\xA9 \xE2\x84\xA2");
}

TEST_F(ReportTest, BriefLineTakesTheFirstTextThatIsSet) {
    scanner.Layout.brief = true;
    const std::string name = "*DRV" + std::string(14, ' ');
    record().GuessText = "  Disk utility V3.12a (beta)\r\nmore\r\n";
    EXPECT_EQ(Compose("*DRV")[0], name + std::string(12, ' ') + "Disk utility V3.12a (beta) ?");
    record().ResStrings[0] = {"FileDescription", "Driver"};
    record().ResStrings[1] = {"FileVersion", "4.0, 1996"};
    EXPECT_EQ(Compose("*DRV")[0], name + "  4.0, 1996 Driver");
    record().NwVersion = "v2.1 rev\x01\r\nsecond";
    EXPECT_EQ(Compose("*DRV")[0], name + std::string(12, ' ') + "v2.1 rev");
    record().HdrVersion = "3.12a";
    record().HdrDescription = "Driver";
    EXPECT_EQ(Compose("*DRV")[0], name + "      3.12a Driver");
    scanner.ClearScanRecord();
    record().GuessText = "ab\r\n";
    EXPECT_EQ(Compose("*DRV")[0], name) << "a guess whose first line is too short";
    scanner.ClearScanRecord();
    EXPECT_EQ(Compose("*DRV")[0], name + std::string(12, ' ') + "Unknown. ");
}

TEST_F(ReportTest, FileDateFollowsTheLocaleAndIsLeftOutForModules) {
    fixtures::TempTree tree;
    ASSERT_EQ(scanner.OpenScanFile(tree.Add("FILE.TXT", "x").string()), 0);
    scanner.Locale.formatFileTime = [](std::int64_t) { return std::string("the date"); };
    sink.lines.clear();
    scanner.ComposeReport(tree.RootWithSeparator(), "FILE.TXT", 1);
    EXPECT_EQ(sink.lines[0],
              "FILE.TXT" + std::string(10, ' ') + "    " + std::string(12, ' ') + "1 the date");
    scanner.Layout.brief = true;
    sink.lines.clear();
    scanner.ComposeReport(tree.RootWithSeparator(), "FILE.TXT", 1);
    EXPECT_EQ(sink.lines[0], "FILE.TXT" + std::string(22, ' ') + "Unknown. the date");
    ASSERT_EQ(sink.reports.size(), 2u);
    EXPECT_EQ(sink.reports[1].modified, "the date");
}

TEST(ReportTimeTest, MidnightShowsTheDateAlone) {
    // The tests run with TZ=UTC.
    EXPECT_EQ(FormatIsoLocalTime(0), "1970-01-01");
    EXPECT_EQ(FormatIsoLocalTime(86400 + 3661), "1970-01-02 01:01:01");
}

TEST(TextLineTest, NextTextLineSplitsOnPairsAndDropsShortLines) {
    const std::string text = "  one  \r\ntwo\n\rab\n\n\nthree";
    std::int64_t position = 1;
    std::vector<std::string> lines;
    do
        lines.push_back(QuillScan::NextTextLine(text, position));
    while (position != 0);
    EXPECT_EQ(lines, (std::vector<std::string>{"one", "two", "", "", "three"}));
    position = 0;
    EXPECT_EQ(QuillScan::NextTextLine("abc", position), "abc") << "position 0 counts as 1";
    EXPECT_EQ(position, 0);
}

TEST(TextLineTest, TakeWrappedPieceBreaksAfterTheLastSpaceOrComma) {
    std::string text = "aaaa,bbbb cccc";
    EXPECT_EQ(QuillScan::TakeWrappedPiece(text, 8), "aaaa,");
    EXPECT_EQ(text, "bbbb cccc");
    EXPECT_EQ(QuillScan::TakeWrappedPiece(text, 8), "bbbb ");
    EXPECT_EQ(QuillScan::TakeWrappedPiece(text, 8), "cccc");
    EXPECT_EQ(text, "");
    text = "abcdefghij";
    EXPECT_EQ(QuillScan::TakeWrappedPiece(text, 8), "");
    EXPECT_EQ(text, "abcdefghij") << "an unbreakable line is left as it was";
}

struct PadCase {
    const char* text;
    const char* padded;
};

class PadVersionColumnTest : public ::testing::TestWithParam<PadCase> {};

TEST_P(PadVersionColumnTest, TokenEndsInColumnEleven) {
    std::string text = GetParam().text;
    EXPECT_EQ(QuillScan::PadVersionColumn(text), GetParam().padded);
    EXPECT_EQ(text, GetParam().padded);
}

INSTANTIATE_TEST_SUITE_P(Tokens, PadVersionColumnTest,
                         ::testing::Values(PadCase{"4.10 Driver", "       4.10 Driver"},
                                           PadCase{"3.12a Driver", "      3.12a Driver"},
                                           PadCase{"1,2,3 Tool", "      1,2,3 Tool"},
                                           PadCase{"4.0, 1996 Tool", "  4.0, 1996 Tool"},
                                           PadCase{"4.0, Tool", "        4.0, Tool"},
                                           PadCase{"Driver 4.0", "            Driver 4.0"},
                                           PadCase{"", "            "},
                                           PadCase{"123456789012 x", "123456789012 x"}));

} // namespace
} // namespace kestrel
