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

// A module name in the facts is at most 256 bytes, cut and said beyond.
TEST(ReaderCaps, ModuleNamesOfAtMost256Bytes) {
    for (const std::size_t length : {256u, 257u}) {
        const ScanFacts facts =
            testing::ScanRecordOf({{"format", "pe"}, {"imports", {std::string(length, 'M')}}})
                .Facts;
        EXPECT_EQ(facts.imports.value_or(std::vector<std::string>{""}).front().size(), 256u);
        EXPECT_EQ(facts.limitsReached.size(), length - 256) << length;
    }
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
