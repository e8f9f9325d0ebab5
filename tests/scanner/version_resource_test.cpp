#include <gtest/gtest.h>

#include "quill_scan.h"
#include "recording_sink.h"
#include "version_resource_builder.h"

namespace kestrel {
namespace {

using fixtures::VersionEntry;
using fixtures::VersionInfo;
using fixtures::VersionString;

const std::vector<VersionString> kAllKnownKeys = {
    {"CompanyName", u"Acme Software"},     {"FileDescription", u"Widget Library"},
    {"FileVersion", u"4.10.1998"},         {"InternalName", u"WIDGET"},
    {"LegalCopyright", u"Copyright Acme"}, {"LegalTrademarks", u"Widget is a mark of Acme"},
    {"OriginalFilename", u"WIDGET.DLL"},   {"ProductName", u"Widget Suite"},
    {"ProductVersion", u"4.10"},           {"Comments", u"For testing"},
    {"PrivateBuild", u"Nightly"},
};

VersionInfo OneTable(std::vector<VersionString> strings) {
    VersionInfo info;
    info.tables = {{.languageAndCodePage = "040904E4", .strings = std::move(strings)}};
    return info;
}

class VersionResourceTest : public ::testing::Test {
protected:
    // The block as a parser leaves it: the whole resource read from index 0.
    void Read(const fixtures::Bytes& block, std::int64_t bytesRead = -1) {
        scanner.FileBuffer = block;
        scanner.BufferFill = bytesRead < 0 ? static_cast<std::int64_t>(block.size()) : bytesRead;
        scanner.ReadVersionResource();
    }
    const ScanRecord& record() const { return scanner.Record; }

    testing::RecordingSink sink;
    QuillScan scanner{sink};
};

void ExpectAllKnownKeysInTheirRows(const ScanRecord& r) {
    const std::vector<std::pair<std::string, std::string>> rows = {
        {"FileDescription", "Widget Library"},
        {"FileVersion", "4.10.1998"},
        {"ProductName", "Widget Suite"},
        {"ProductVersion", "4.10"},
        {"LegalCopyright", "Copyright Acme"},
        {"CompanyName", "Acme Software"},
        {"LegalTrademarks", "Widget is a mark of Acme"},
        {"InternalName", "WIDGET"},
        {"OriginalFilename", "WIDGET.DLL"},
        {"Comments", "For testing"},
    };
    for (int row = 1; row <= 10; ++row) {
        EXPECT_EQ(r.ResKey(row), rows[row - 1].first) << "row " << row;
        EXPECT_EQ(r.ResValue(row), rows[row - 1].second) << "row " << row;
    }
    EXPECT_EQ(r.ResKey(11), "PrivateBuild");
    EXPECT_EQ(r.ResValue(11), "Nightly");
    EXPECT_TRUE(r.HasVersionResource);
}

TEST_F(VersionResourceTest, WideLayoutStoresKnownKeysInTheirRowsAndOthersFromRow11) {
    Read(EncodeWideVersion(MakeVersionTree(OneTable(kAllKnownKeys))));
    ExpectAllKnownKeysInTheirRows(record());
    EXPECT_EQ(record().ResStringCount, 11) << "Translation has raw bytes (type 0)";
}

TEST_F(VersionResourceTest, NarrowLayoutStoresKnownKeysAndTheTranslationEntry) {
    Read(EncodeNarrowVersion(MakeVersionTree(OneTable(kAllKnownKeys))));
    ExpectAllKnownKeysInTheirRows(record());
    // No type field tells the raw Translation bytes from text: they are stored
    // as characters up to their first zero byte (0x0409, 1252 = 09 04 E4 04).
    EXPECT_EQ(record().ResKey(12), "Translation");
    EXPECT_EQ(record().ResValue(12), std::string("\x09\x04\xE4\x04"));
    EXPECT_EQ(record().ResStringCount, 12);
}

TEST_F(VersionResourceTest, KnownKeysAreMatchedByCaseSensitivePrefix) {
    Read(EncodeWideVersion(MakeVersionTree(OneTable({
        {"Company", u"Short key"},
        {"FileVersionX", u"prefixed"},
        {"fileversion", u"lower case"},
        {"ProductNameExtra", u"also a prefix"},
    }))));
    EXPECT_EQ(record().ResKey(6), "Company");
    EXPECT_EQ(record().ResValue(6), "Short key");
    EXPECT_EQ(record().ResKey(2), "FileVersionX");
    EXPECT_EQ(record().ResValue(2), "prefixed");
    EXPECT_EQ(record().ResKey(3), "ProductNameExtra");
    EXPECT_EQ(record().ResKey(11), "fileversion");
    EXPECT_EQ(record().ResStringCount, 11);
}

TEST_F(VersionResourceTest, TwoStringTablesLeaveTheLaterValuesAndRepeatOtherKeys) {
    VersionInfo info;
    info.tables = {
        {.languageAndCodePage = "040704E4",
         .strings = {{"FileDescription", u"Widget-Bibliothek"}, {"SpecialBuild", u"de"}}},
        {.languageAndCodePage = "040904E4",
         .strings = {{"FileDescription", u"Widget Library"}, {"SpecialBuild", u"en"}}},
    };
    for (const bool wide : {true, false}) {
        scanner.ClearScanRecord();
        const VersionEntry tree = MakeVersionTree(info);
        Read(wide ? EncodeWideVersion(tree) : EncodeNarrowVersion(tree));
        EXPECT_EQ(record().ResValue(1), "Widget Library") << wide;
        EXPECT_EQ(record().ResKey(11), "SpecialBuild") << wide;
        EXPECT_EQ(record().ResValue(11), "de") << wide;
        EXPECT_EQ(record().ResKey(12), "SpecialBuild") << wide;
        EXPECT_EQ(record().ResValue(12), "en") << wide;
    }
}

TEST_F(VersionResourceTest, WideCodesAbove255BecomeUnderscoresAndLatin1Stays) {
    Read(EncodeWideVersion(MakeVersionTree(OneTable({
        {"FileDescription", u"\u263A Smiley \u00E9t\u00E9"},
        {"LegalCopyright", u"\u00A9 1996"},
    }))));
    EXPECT_EQ(record().ResValue(1), "_ Smiley \xE9t\xE9");
    EXPECT_EQ(record().ResValue(5), "\xA9 1996");
}

TEST_F(VersionResourceTest, WideRootOfTextTypeIsWalkedAlike) {
    VersionEntry tree = MakeVersionTree(OneTable({{"FileVersion", u"1.0"}}));
    tree.type = 1;
    Read(EncodeWideVersion(tree));
    EXPECT_EQ(record().ResValue(2), "1.0");
}

TEST_F(VersionResourceTest, WideValuedEntryOfRawTypeIsNotStored) {
    VersionEntry tree = MakeVersionTree(OneTable({{"FileVersion", u"1.0"}, {"Extra", u"x"}}));
    tree.children[0].children[0].children[0].type = 0;
    Read(EncodeWideVersion(tree));
    EXPECT_EQ(record().ResValue(2), "");
    EXPECT_EQ(record().ResKey(11), "Extra");
}

TEST_F(VersionResourceTest, EmptyValueIsPassedOverLikeAContainer) {
    const VersionInfo info = OneTable(
        {{"Comments", u""}, {"FileVersion", u"2.0"}, {"PrivateBuild", u""}, {"Extra", u"x"}});
    for (const bool wide : {true, false}) {
        scanner.ClearScanRecord();
        const VersionEntry tree = MakeVersionTree(info);
        Read(wide ? EncodeWideVersion(tree) : EncodeNarrowVersion(tree));
        EXPECT_EQ(record().ResKey(10), "") << wide;
        EXPECT_EQ(record().ResValue(2), "2.0") << wide;
        EXPECT_EQ(record().ResKey(11), "Extra") << wide;
    }
}

TEST_F(VersionResourceTest, BlockOfNeitherLayoutIsIgnored) {
    fixtures::Bytes block = EncodeWideVersion(MakeVersionTree(OneTable(kAllKnownKeys)));
    block[6] = 'v'; // the root key no longer begins with "VS"
    Read(block);
    EXPECT_FALSE(record().HasVersionResource);
    EXPECT_EQ(record().ResStringCount, 10);
}

// A table of three strings whose entries the tests below damage; the offsets
// are those of the entries in the order written.
struct ThreeStrings {
    fixtures::Bytes block;
    std::vector<std::size_t> offsets;
    std::size_t stringFileInfo() const { return offsets[1]; }
    std::size_t string(int n) const { return offsets[3 + n]; }
    std::size_t stringEnd(int n) const {
        return string(n) + (block[string(n)] | block[string(n) + 1] << 8);
    }
};

ThreeStrings MakeThreeStrings(bool wide) {
    ThreeStrings t;
    const VersionEntry tree = MakeVersionTree(
        OneTable({{"FileDescription", u"one"}, {"FileVersion", u"two"}, {"ProductName", u"3"}}));
    t.block = wide ? EncodeWideVersion(tree, &t.offsets) : EncodeNarrowVersion(tree, &t.offsets);
    return t;
}

void PutU16(fixtures::Bytes& block, std::size_t at, std::uint16_t value) {
    block[at] = static_cast<std::uint8_t>(value);
    block[at + 1] = static_cast<std::uint8_t>(value >> 8);
}

TEST_F(VersionResourceTest, WalkEndsAtAnEntryLengthBelowTheHeaderSize) {
    for (const bool wide : {true, false}) {
        for (const std::uint16_t length : {0, wide ? 5 : 3}) {
            scanner.ClearScanRecord();
            ThreeStrings t = MakeThreeStrings(wide);
            PutU16(t.block, t.string(1), length);
            Read(t.block);
            EXPECT_EQ(record().ResValue(1), "one") << wide << " " << length;
            EXPECT_EQ(record().ResValue(2), "") << "the walk ended, " << wide;
            EXPECT_EQ(record().ResValue(3), "") << "the walk ended, " << wide;
        }
    }
}

TEST_F(VersionResourceTest, WalkEndsAtAnEntryRunningPastTheBytesRead) {
    for (const bool wide : {true, false}) {
        scanner.ClearScanRecord();
        ThreeStrings t = MakeThreeStrings(wide);
        PutU16(t.block, t.string(1), 0x7000);
        Read(t.block);
        EXPECT_EQ(record().ResValue(1), "one") << wide;
        EXPECT_EQ(record().ResValue(2), "") << wide;
        EXPECT_EQ(record().ResValue(3), "") << wide;
    }
}

TEST_F(VersionResourceTest, TruncatedBlockKeepsTheTablesReadWhole) {
    VersionInfo info;
    info.tables = {{.languageAndCodePage = "040704E4", .strings = {{"FileDescription", u"de"}}},
                   {.languageAndCodePage = "040904E4", .strings = {{"FileVersion", u"en"}}}};
    std::vector<std::size_t> offsets;
    const fixtures::Bytes block = EncodeNarrowVersion(MakeVersionTree(info), &offsets);
    const auto cutAt = [&](std::size_t bytesRead) {
        scanner.ClearScanRecord();
        fixtures::Bytes cut = block;
        std::fill(cut.begin() + static_cast<std::ptrdiff_t>(bytesRead), cut.end(), 0);
        Read(cut, static_cast<std::int64_t>(bytesRead));
    };
    // Root, StringFileInfo, table, string, table, string, VarFileInfo, Translation.
    // StringFileInfo runs past a cut inside the second table: nothing is read.
    cutAt(offsets[5] + 2);
    EXPECT_FALSE(record().HasVersionResource);
    // A cut inside VarFileInfo keeps both tables.
    cutAt(offsets[7] + 2);
    EXPECT_EQ(record().ResValue(1), "de");
    EXPECT_EQ(record().ResValue(2), "en");
    EXPECT_EQ(record().ResStringCount, 10);
    // The exact fit reads the Translation entry too; one byte less does not.
    cutAt(block.size());
    EXPECT_EQ(record().ResKey(11), "Translation");
    cutAt(block.size() - 1);
    EXPECT_EQ(record().ResKey(11), "");
}

TEST_F(VersionResourceTest, RootLengthBeyondTheBlockEndsAtTheBytesRead) {
    for (const bool wide : {true, false}) {
        scanner.ClearScanRecord();
        ThreeStrings t = MakeThreeStrings(wide);
        PutU16(t.block, 0, 0xFFFF);
        Read(t.block);
        EXPECT_EQ(record().ResValue(3), "3") << wide;
    }
}

TEST_F(VersionResourceTest, ContainerRunningPastTheBytesReadStoresNothing) {
    for (const bool wide : {true, false}) {
        scanner.ClearScanRecord();
        ThreeStrings t = MakeThreeStrings(wide);
        PutU16(t.block, t.stringFileInfo(), 0xFFF0);
        Read(t.block);
        EXPECT_FALSE(record().HasVersionResource) << wide;
    }
}

TEST_F(VersionResourceTest, KeysBeyondThe30ExtraRowsAreDropped) {
    std::vector<VersionString> strings;
    for (int i = 1; i <= 32; ++i) {
        const std::string number = std::to_string(i);
        strings.push_back({"Key" + number, std::u16string(number.begin(), number.end())});
    }
    strings.push_back({"FileVersion", u"still stored"});
    Read(EncodeWideVersion(MakeVersionTree(OneTable(strings))));
    EXPECT_EQ(record().ResStringCount, 40);
    EXPECT_EQ(record().ResKey(40), "Key30");
    EXPECT_EQ(record().ResValue(40), "30");
    EXPECT_EQ(record().ResValue(2), "still stored") << "known keys keep their rows";
}

TEST_F(VersionResourceTest, RoundUp4StoresTheRoundedValueBack) {
    for (const auto& [value, rounded] : std::vector<std::pair<std::int64_t, std::int64_t>>{
             {0, 0}, {1, 4}, {3, 4}, {4, 4}, {5, 8}, {38, 40}}) {
        std::int64_t v = value;
        EXPECT_EQ(QuillScan::RoundUp4(v), rounded);
        EXPECT_EQ(v, rounded);
    }
}

} // namespace
} // namespace kestrel
