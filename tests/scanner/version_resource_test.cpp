#include <algorithm>

#include <gtest/gtest.h>

#include "quill_scan.h"
#include "recording_sink.h"
#include "version_resource_builder.h"

namespace kestrel {
namespace {

using fixtures::Bytes;
using fixtures::VersionEntry;
using fixtures::VersionLayout;
using fixtures::VersionString;

constexpr VersionLayout kBothLayouts[] = {VersionLayout::Wide, VersionLayout::Narrow};

VersionEntry OneTable(std::vector<VersionString> strings) {
    return fixtures::MakeVersionTree({.tables = {{.strings = std::move(strings)}}});
}

// The rows in use: each known key's row that holds one, and every row after
// them up to the last in use, as "row:key=value; ".
std::string Rows(const ScanRecord& r) {
    std::string rows;
    for (int row = 1; row <= r.ResStringCount; ++row) {
        if (row > kResStringKnownRows || !r.ResKey(row).empty())
            rows += std::to_string(row) + ":" + r.ResKey(row) + "=" + r.ResValue(row) + "; ";
    }
    return rows;
}

// The Translation entry of the narrow layout, which has no type field to
// tell its raw bytes (0x0409, 1252) from text: stored up to their first zero.
const std::string kNarrowTranslation = "Translation=\x09\x04\xE4\x04; ";

class VersionResourceTest : public ::testing::Test {
protected:
    // The record after reading a block as a parser leaves it: the resource
    // from index 0, `bytesRead` of it read.
    const ScanRecord& Read(const Bytes& block, std::int64_t bytesRead = -1) {
        scanner.ClearScanRecord();
        scanner.FileBuffer = block;
        scanner.BufferFill = bytesRead < 0 ? static_cast<std::int64_t>(block.size()) : bytesRead;
        scanner.ReadVersionResource();
        return scanner.Record;
    }

    testing::RecordingSink sink;
    QuillScan scanner{sink};
};

TEST_F(VersionResourceTest, KnownKeysTakeTheirRowsAndOtherKeysFollowFromRow11) {
    const std::vector<std::string> rows = {"FileDescription", "FileVersion",    "ProductName",
                                           "ProductVersion",  "LegalCopyright", "CompanyName",
                                           "LegalTrademarks", "InternalName",   "OriginalFilename",
                                           "Comments",        "PrivateBuild"};
    // Written in alphabetical order, so no row follows from the order; each
    // value is its key backwards.
    std::vector<std::string> keys = rows;
    std::sort(keys.begin(), keys.end());
    std::vector<VersionString> strings;
    for (const std::string& key : keys)
        strings.push_back({key, std::u16string(key.rbegin(), key.rend())});
    for (const VersionLayout layout : kBothLayouts) {
        const ScanRecord& r = Read(EncodeVersion(OneTable(strings), layout));
        for (int row = 1; row <= 11; ++row) {
            const std::string& key = rows[static_cast<std::size_t>(row - 1)];
            EXPECT_EQ(r.ResKey(row), key);
            EXPECT_EQ(r.ResValue(row), std::string(key.rbegin(), key.rend()));
        }
        const bool narrow = layout == VersionLayout::Narrow;
        EXPECT_EQ(r.ResStringCount, narrow ? 12 : 11);
        EXPECT_EQ(r.ResKey(12) + "=" + r.ResValue(12) + "; ", narrow ? kNarrowTranslation : "=; ");
    }
}

TEST_F(VersionResourceTest, KnownKeysAreMatchedByCaseSensitivePrefix) {
    const ScanRecord& r = Read(EncodeVersion(OneTable({{"Company", u"Short key"},
                                                       {"FileVersionX", u"prefixed"},
                                                       {"fileversion", u"lower case"},
                                                       {"ProductNameExtra", u"also a prefix"}}),
                                             VersionLayout::Wide));
    EXPECT_EQ(Rows(r), "2:FileVersionX=prefixed; 3:ProductNameExtra=also a prefix; "
                       "6:Company=Short key; 11:fileversion=lower case; ");
}

TEST_F(VersionResourceTest, TwoStringTablesLeaveTheLaterValuesAndEmptyValuesArePassedOver) {
    const VersionEntry tree = fixtures::MakeVersionTree(
        {.tables = {{.languageAndCodePage = "040704E4",
                     .strings = {{"FileDescription", u"Widget-Bibliothek"},
                                 {"SpecialBuild", u"de"},
                                 {"Comments", u""}}},
                    {.strings = {{"FileDescription", u"Widget Library"},
                                 {"SpecialBuild", u"en"},
                                 {"PrivateBuild", u""},
                                 {"Extra", u"x"}}}}});
    for (const VersionLayout layout : kBothLayouts) {
        const ScanRecord& r = Read(EncodeVersion(tree, layout));
        EXPECT_EQ(Rows(r), "1:FileDescription=Widget Library; 11:SpecialBuild=de; "
                           "12:SpecialBuild=en; 13:Extra=x; " +
                               (layout == VersionLayout::Narrow ? "14:" + kNarrowTranslation : ""));
    }
}

TEST_F(VersionResourceTest, WideCodesAbove255BecomeUnderscoresAndLatin1Stays) {
    const ScanRecord& r =
        Read(EncodeVersion(OneTable({{"FileDescription", u"\u263A Smiley \u00E9t\u00E9"},
                                     {"LegalCopyright", u"\u00A9 1996"}}),
                           VersionLayout::Wide));
    EXPECT_EQ(r.ResValue(1), "_ Smiley \xE9t\xE9");
    EXPECT_EQ(r.ResValue(5), "\xA9 1996");
}

TEST_F(VersionResourceTest, WideLayoutStoresValuedEntriesOfTextTypeOnly) {
    VersionEntry tree =
        OneTable({{"FileVersion", u"1.0"}, {"ProductName", u"raw"}, {"Extra", u"x"}});
    tree.type = 1; // a root of text type is walked alike
    tree.children[0].children[0].children[1].type = 0;
    const ScanRecord& r = Read(EncodeVersion(tree, VersionLayout::Wide));
    EXPECT_EQ(Rows(r), "2:FileVersion=1.0; 11:Extra=x; ");
}

TEST_F(VersionResourceTest, BlockOfNeitherLayoutIsIgnored) {
    Bytes block = EncodeVersion(OneTable({{"FileVersion", u"1.0"}}), VersionLayout::Wide);
    block[6] = 'v'; // the root key no longer begins with "VS"
    EXPECT_FALSE(Read(block).HasVersionResource);
}

TEST_F(VersionResourceTest, WalkEndsAtAnEntryItCannotTrustKeepingThePairsBefore) {
    for (const VersionLayout layout : kBothLayouts) {
        // The root, StringFileInfo, the table, the three strings, ...
        std::vector<std::size_t> at;
        const Bytes block = EncodeVersion(
            OneTable({{"FileDescription", u"one"}, {"FileVersion", u"two"}, {"ProductName", u"3"}}),
            layout, &at);
        const auto readWithLength = [&](std::size_t entry, std::uint16_t length) {
            return Read(fixtures::ByteWriter().PutBytes(0, block).PutU16(entry, length).Data());
        };
        // A length below the header size, or one running past the bytes read.
        const std::uint16_t headerSize = layout == VersionLayout::Wide ? 6 : 4;
        for (const std::uint16_t length : {0, headerSize - 1, 0x7000}) {
            EXPECT_EQ(Rows(readWithLength(at[4], length)), "1:FileDescription=one; ") << length;
        }
        // A container running past the bytes read, before any pair is stored.
        EXPECT_FALSE(readWithLength(at[1], 0xFFF0).HasVersionResource);
        // A root length beyond them: the walk goes as far as the bytes read.
        EXPECT_EQ(readWithLength(at[0], 0xFFFF).ResValue(3), "3");
    }
}

TEST_F(VersionResourceTest, TruncatedBlockKeepsTheTablesReadWhole) {
    std::vector<std::size_t> offsets;
    const Bytes block = EncodeVersion(
        fixtures::MakeVersionTree({.tables = {{.languageAndCodePage = "040704E4",
                                               .strings = {{"FileDescription", u"de"}}},
                                              {.strings = {{"FileVersion", u"en"}}}}}),
        VersionLayout::Narrow, &offsets);
    const auto cutAt = [&](std::size_t bytesRead) {
        Bytes cut = block;
        std::fill(cut.begin() + static_cast<std::ptrdiff_t>(bytesRead), cut.end(), 0);
        return Read(cut, static_cast<std::int64_t>(bytesRead));
    };
    // Root, StringFileInfo, table, string, table, string, VarFileInfo, Translation.
    // StringFileInfo runs past a cut inside the second table: nothing is read.
    EXPECT_FALSE(cutAt(offsets[5] + 2).HasVersionResource);
    // A cut inside VarFileInfo keeps both tables.
    EXPECT_EQ(Rows(cutAt(offsets[7] + 2)), "1:FileDescription=de; 2:FileVersion=en; ");
    // The exact fit reads the Translation entry too; one byte less does not.
    EXPECT_EQ(Rows(cutAt(block.size() - 1)), "1:FileDescription=de; 2:FileVersion=en; ");
    EXPECT_EQ(Rows(cutAt(block.size())),
              "1:FileDescription=de; 2:FileVersion=en; 11:" + kNarrowTranslation);
}

TEST_F(VersionResourceTest, KeysBeyondThe30ExtraRowsAreDropped) {
    std::vector<VersionString> strings;
    for (int i = 1; i <= 32; ++i) {
        const std::string number = std::to_string(i);
        strings.push_back({"Key" + number, std::u16string(number.begin(), number.end())});
    }
    strings.push_back({"FileVersion", u"still stored"});
    const ScanRecord& r = Read(EncodeVersion(OneTable(strings), VersionLayout::Wide));
    EXPECT_EQ(r.ResStringCount, 40);
    EXPECT_EQ(r.ResKey(40), "Key30");
    EXPECT_EQ(r.ResValue(40), "30");
    EXPECT_EQ(r.ResValue(2), "still stored") << "known keys keep their rows";
}

} // namespace
} // namespace kestrel
