#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "nlm_builder.h"
#include "quill_scan.h"
#include "recording_sink.h"
#include "temp_tree.h"

namespace kestrel {
namespace {

using fixtures::NlmContainer;
using fixtures::NlmModule;
using fixtures::NlmVersion;

// Scans one file written from `bytes` and keeps everything the scanner reported.
testing::RecordingSink Scan(const fixtures::Bytes& bytes) {
    return testing::ScanOneFile(bytes, "SERVER.NLM");
}

ScanRecord ScanModule(const NlmModule& module) {
    const testing::RecordingSink sink = Scan(fixtures::MakeNlm(module));
    EXPECT_EQ(sink.reports.size(), 1u);
    return sink.reports.at(0).record;
}

NlmModule FullModule() {
    return {.name = "SERVER.NLM",
            .description = "NetWare File Server",
            .screenName = "System Console",
            .threadName = "Server Thread",
            .version = NlmVersion{3, 12, 2, 1996, 3, 7},
            .copyright = "(C) Copyright 1996 Novell, Inc.",
            .dependencies = {"CLIB", "MATHLIB", "STREAMSLONG"}};
}

TEST(NlmTest, ReadsEveryFieldOfTheHeaderAndPrintsThem) {
    const testing::RecordingSink sink = Scan(fixtures::MakeNlm(FullModule()));
    ASSERT_EQ(sink.reports.size(), 1u);
    EXPECT_EQ(sink.reports[0].record.ExeSignature, "  ");
    EXPECT_EQ(sink.reports[0].size, 1024);
    EXPECT_EQ(std::vector<std::string>(sink.lines.begin() + 1, sink.lines.end()),
              (std::vector<std::string>{
                  " HDescription     :NetWare File Server",
                  " HVersion         :3.12B",
                  " HLong            :System Console Server Thread",
                  " HDate            :1996-03-07",
                  " HImport          :clib    , mathlib , streamsl",
                  " Copyright        :(C) Copyright 1996 Novell, Inc.",
                  " HName            :SERVER.NLM",
              }));
}

TEST(NlmTest, VersionAndDateDigits) {
    const struct {
        NlmVersion version;
        const char* text;
        const char* date;
    } cases[] = {
        {{4, 11, 0, 1996, 3, 7}, "4.11", "1996-03-07"},
        {{5, 0, 1, 2001, 12, 31}, "5.00A", "2001-12-31"},
        {{4, 5, 191, 95, 1, 1}, "4.05\xFF", "95-01-01"},
        {{4, 5, 192, 0, 123, 100}, "4.05", "0-23-00"},
        {{4, -105, -1, -1996, -3, -7}, "4.5", "1996-03-07"},
        {{-2147483647 - 1, 2147483647, 0, 7, 0, 0}, "2147483648.47", "7-00-00"},
    };
    for (const auto& c : cases) {
        NlmModule module = FullModule();
        module.version = c.version;
        const ScanRecord r = ScanModule(module);
        EXPECT_EQ(r.HdrVersion, c.text) << c.text;
        EXPECT_EQ(r.HdrDate, c.date) << c.text;
    }
}

// The long names, the version and date, the copyright and the imports.
std::string Fields(const ScanRecord& r) {
    return r.HdrLong + "|" + r.HdrVersion + " " + r.HdrDate + "|" + r.CopyrightText + "|" +
           r.HdrImports;
}

const std::string kImports = "CLIB    , MATHLIB , STREAMSL";

TEST(NlmTest, TagsAwayFromTheirPlaceAreLookedForButTheCopyrightIsNot) {
    NlmModule module = FullModule();
    module.gapBeforeLong = 7;
    module.gapBeforeVersion = 3;
    EXPECT_EQ(Fields(ScanModule(module)),
              "System Console Server Thread|3.12B 1996-03-07|(C) Copyright 1996 Novell, Inc.|" +
                  kImports);
    module.gapBeforeCopyright = 1;
    EXPECT_EQ(ScanModule(module).CopyrightText, "");
    // Without the version record, then without " LONG" too.
    module = FullModule();
    module.version.reset();
    EXPECT_EQ(Fields(ScanModule(module)), "System Console Server Thread| ||" + kImports);
    module.screenName.reset();
    EXPECT_EQ(Fields(ScanModule(module)), "| ||" + kImports);
}

TEST(NlmTest, DependencyTable) {
    NlmModule module = FullModule();
    module.dependencyCount = 0;
    EXPECT_EQ(ScanModule(module).HdrImports, "");
    module.headerVersion = 0x84; // bit 7: the table is left unread
    module.dependencyCount.reset();
    EXPECT_EQ(ScanModule(module).HdrImports, "");
    // A count larger than the names read adds no blank entries.
    module = FullModule();
    module.dependencyCount = 100000;
    module.size = module.dependencyOffset + 1 + 4 + 1 + 7 + 1 + 11;
    EXPECT_EQ(ScanModule(module).HdrImports, kImports);
    // A table inside a file shorter than the header block is read from its
    // offset, not from one counted from the end of a full block.
    module = FullModule();
    module.dependencyOffset = 300;
    module.size = 400;
    EXPECT_EQ(ScanModule(module).HdrImports, kImports);
    // A table past the end of the file.
    module.dependencyOffset = 0x7FFFFFF0;
    module.dependencies.clear();
    module.dependencyCount = 3;
    EXPECT_EQ(ScanModule(module).HdrImports, "");
}

TEST(NlmTest, FieldsReachingPastTheHeaderBlockAreCutAtItsEnd) {
    NlmModule module = FullModule();
    module.description = std::string(255, 'D');
    module.screenName = std::string(60, 'S');
    module.threadName = std::string(41, 'T');
    const ScanRecord r = ScanModule(module);
    EXPECT_EQ(r.HdrDescription, module.description);
    // " LONG" at 395, the names end at 503: the version tag no longer fits.
    EXPECT_EQ(Fields(r), std::string(60, 'S') + " " + module.threadName + "| ||" + kImports);
    // The version record at 465 fits; the copyright text, from 508, is cut at 512.
    module.threadName = "T";
    module.copyright = std::string(200, 'C');
    EXPECT_EQ(ScanModule(module).CopyrightText, "CCCC");
}

NlmContainer TwoModuleContainer() {
    NlmModule first = FullModule();
    first.name = "FIRST.NLM";
    first.dependencies = {"CLIB"};
    const NlmModule second{.name = "SECOND\xE9.NLM",
                           .description = "Second Module",
                           .dependencies = {"FIRST"},
                           .dependencyOffset = 600};
    return {.container = {.name = "BUNDLE.NLM", .description = "Module Bundle"},
            .modules = {{.module = first}, {.module = second, .prefixed = true}}};
}

TEST(NlmTest, ContainerReportsEachModuleUnderAStarAndItsName) {
    const testing::RecordingSink sink = Scan(fixtures::MakeNlmContainer(TwoModuleContainer()));
    std::vector<std::string> reports;
    for (const auto& report : sink.reports) {
        const ScanRecord& r = report.record;
        reports.push_back(report.name + " " + std::to_string(report.size) + " " + report.modified +
                          "|" + r.HdrDescription + "|" + r.HdrVersion + "|" + r.HdrImports);
    }
    // The second module starts after a 0x22222222 prefix; its dependency table
    // offset counts from its own header.
    EXPECT_EQ(reports, (std::vector<std::string>{
                           "SERVER.NLM 3104 " + sink.reports.at(0).modified + "|Module Bundle||",
                           "*FIRST.NLM 1024 |NetWare File Server|3.12B|CLIB    ",
                           "*SECOND\u00E9.NLM 1024 |Second Module||FIRST   "}));
    EXPECT_EQ(sink.lines[sink.lines.size() - 4],
              "*SECOND\u00E9.NLM" + std::string(18, ' ') + "1,024 ");
}

TEST(NlmTest, ContainerWalkEnds) {
    const auto reports = [](const NlmContainer& container) {
        return Scan(fixtures::MakeNlmContainer(container)).reports;
    };
    NlmContainer container = TwoModuleContainer();
    container.directorySignature = 0x4B504B51;
    EXPECT_EQ(reports(container).size(), 1u);
    // The custom data offset names a directory beyond the end of the file.
    fixtures::ByteWriter image;
    image.PutBytes(0, fixtures::MakeNlmContainer(TwoModuleContainer())).PutU32(62, 0x7FFFFFF0);
    EXPECT_EQ(Scan(image.Data()).reports.size(), 1u);
    // A module length of 0 or below is reported as the size and ends the walk.
    for (const std::int32_t length : {0, -1024}) {
        container = TwoModuleContainer();
        container.modules[0].length = length;
        const auto found = reports(container);
        ASSERT_EQ(found.size(), 2u);
        EXPECT_EQ(found[1].size, length);
    }
    // A first module beyond the end of the file: the container alone.
    container = TwoModuleContainer();
    container.firstModuleOffset = 0x10000000;
    container.modules.clear();
    EXPECT_EQ(reports(container).size(), 1u);
}

TEST(NlmTest, DamagedModulesAndContainersEndTheirParse) {
    // Random headers and contents behind the signature, half of them
    // containers: the sanitizers watch every read.
    std::uint32_t state = 12345;
    const auto next = [&] { return state = state * 1664525u + 1013904223u; };
    fixtures::TempTree tree;
    testing::RecordingSink sink;
    QuillScan scanner(sink);
    for (int n = 0; n < 200; ++n) {
        fixtures::ByteWriter image(600 + next() % 3000);
        for (std::size_t i = 0; i < image.Size(); ++i)
            image.PutU8(i, static_cast<std::uint8_t>(next() >> 24));
        image.PutText(0, fixtures::kNlmSignature).PutU32(122, n % 2 == 0 ? 4 : next());
        image.PutU32(62, next() % 4000).PutU32(70, next() % 4000).PutU32(102, next() % 1000);
        tree.Add("X.NLM", image.Data());
        scanner.ScanFile(tree.RootWithSeparator(), "X.NLM");
    }
    EXPECT_GE(sink.reports.size(), 200u);
}

} // namespace
} // namespace kestrel
