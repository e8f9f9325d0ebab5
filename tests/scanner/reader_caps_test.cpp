// The caps of the readers whose test files are made in code: too many
// entries, or fields too long, to write out in a table.

#include <gtest/gtest.h>

#include "recording_sink.h"

namespace kestrel {
namespace {

using fixtures::Json;

// No linker writes 4096 import descriptors; the walk reads that many at most,
// and so do the facts, which say when there were more. Module references of
// NE files and import modules of LX files are capped the same way.
TEST(ReaderCaps, AtMost4096ImportDescriptors) {
    for (const int count : {4096, 4097}) {
        for (const char* format : {"pe", "ne", "lx"}) {
            Json module = {{"format", format}};
            for (int i = 0; i < count; ++i)
                module["imports"].push_back("M" + std::to_string(i) + ".DLL");
            const ScanRecord r = testing::ScanRecordOf(module);
            if (format == std::string("pe")) {
                EXPECT_EQ(std::count(r.HdrImports.begin(), r.HdrImports.end(), ',') + 1, 4096);
            }
            EXPECT_EQ(r.Facts.imports.value_or(std::vector<std::string>{}).size(), 4096u)
                << format << count;
            EXPECT_EQ(r.Facts.limitsReached.size(), count == 4097 ? 1u : 0u) << format << count;
        }
    }
}

// A module name in the facts is at most 256 bytes, cut beyond and said once
// per file.
TEST(ReaderCaps, ModuleNamesOfAtMost256Bytes) {
    for (const std::size_t length : {256u, 257u}) {
        const ScanFacts facts =
            testing::ScanRecordOf(
                {{"format", "pe"},
                 {"imports", {std::string(length, 'M'), std::string(length, 'N')}}})
                .Facts;
        EXPECT_EQ(facts.imports.value_or(std::vector<std::string>{""}).back().size(), 256u);
        EXPECT_EQ(facts.limitsReached.size(), length - 256) << length;
    }
}

// Rows 11 to 40 hold 30 keys beyond the ten known ones; later ones are
// dropped, known keys still stored.
TEST(ReaderCaps, ThirtyExtraVersionKeys) {
    for (const int extra : {30, 31}) {
        Json version = {{"var", false}};
        for (int i = 1; i <= extra; ++i)
            version["strings"].push_back({"Key" + std::to_string(i), std::to_string(i)});
        version["strings"].push_back({"FileVersion", "stored"});
        for (const char* format : {"pe", "ne"}) {
            const ScanRecord r = testing::ScanRecordOf({{"format", format}, {"version", version}});
            EXPECT_EQ(r.ResStringCount, 40) << extra << format;
            EXPECT_EQ(r.ResKey(40) + "=" + r.ResValue(40) + " " + r.ResValue(2), "Key30=30 stored");
        }
    }
}

// An NLM's variable part is read from its 512-byte header block: a
// description of 255 characters and long names of 60 and 1 put the version
// record at 465 and its copyright text at 508, cut after 4 characters; a
// second name of 41 leaves no room for the version tag.
TEST(ReaderCaps, NlmFieldsCutAtTheHeaderBlockEnd) {
    Json module = {{"format", "nlm"},
                   {"description", std::string(255, 'D')},
                   {"dependency_offset", 800},
                   {"long", {std::string(60, 'S'), "T"}},
                   {"version", {3, 12, 2, 1996, 3, 7}},
                   {"copyright", std::string(200, 'C')}};
    EXPECT_EQ(testing::ScanRecordOf(module).CopyrightText, "CCCC");
    module["long"][1] = std::string(41, 'T');
    const ScanRecord r = testing::ScanRecordOf(module);
    EXPECT_EQ(r.HdrLong + "|" + r.HdrVersion,
              std::string(60, 'S') + " " + std::string(41, 'T') + "|");
}

// The module references of an NE file are read from one block of 8192 bytes,
// whatever their count says: 4096 of them, each shown in 8 columns.
TEST(ReaderCaps, NeModuleReferencesFromOneBlock) {
    const Json program = {{"format", "ne"},
                          {"imports", {"KERNEL"}},
                          {"size", 20000},
                          {"put", {{{"at", "ne+30"}, {"u16", 65535}}}}};
    EXPECT_EQ(testing::ScanRecordOf(program).HdrImports.size(), 4096u * 8 + 4095 * 2);
}

} // namespace
} // namespace kestrel
