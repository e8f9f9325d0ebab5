#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "nlm_builder.h"
#include "quill_scan.h"
#include "recording_sink.h"
#include "temp_tree.h"

namespace kestrel {
namespace {

using fixtures::ContainedModule;
using fixtures::NlmContainer;
using fixtures::NlmModule;
using fixtures::NlmVersion;

// Scans one file written from `bytes` and keeps everything the scanner reported.
testing::RecordingSink Scan(const std::string& name, const fixtures::Bytes& bytes) {
    fixtures::TempTree tree;
    tree.Add(name, bytes);
    testing::RecordingSink sink;
    QuillScan scanner(sink);
    scanner.ScanFile(tree.RootWithSeparator(), name);
    return sink;
}

ScanRecord ScanModule(const NlmModule& module) {
    const testing::RecordingSink sink = Scan("MODULE.NLM", fixtures::MakeNlm(module));
    EXPECT_EQ(sink.reports.size(), 1u);
    return sink.reports.empty() ? ScanRecord{} : sink.reports[0].record;
}

NlmModule FullModule() {
    NlmModule module;
    module.name = "SERVER.NLM";
    module.description = "NetWare File Server";
    module.screenName = "System Console";
    module.threadName = "Server Thread";
    module.version =
        NlmVersion{.major = 3, .minor = 12, .revision = 2, .year = 1996, .month = 3, .day = 7};
    module.copyright = "(C) Copyright 1996 Novell, Inc.";
    module.dependencies = {"CLIB", "MATHLIB", "STREAMSLONG"};
    return module;
}

TEST(NlmTest, ReadsEveryFieldOfTheHeaderAndPrintsThem) {
    const testing::RecordingSink sink = Scan("SERVER.NLM", fixtures::MakeNlm(FullModule()));
    ASSERT_EQ(sink.reports.size(), 1u);
    const ScanRecord& r = sink.reports[0].record;
    EXPECT_EQ(r.HdrName, "SERVER.NLM");
    EXPECT_EQ(r.HdrDescription, "NetWare File Server");
    EXPECT_EQ(r.HdrLong, "System Console Server Thread");
    EXPECT_EQ(r.HdrVersion, "3.12B");
    EXPECT_EQ(r.HdrDate, "1996-03-07");
    EXPECT_EQ(r.CopyrightText, "(C) Copyright 1996 Novell, Inc.");
    EXPECT_EQ(r.HdrImports, "CLIB    , MATHLIB , STREAMSL");
    EXPECT_EQ(r.ExeSignature, "  ");
    EXPECT_EQ(sink.reports[0].size, 1024);

    const std::vector<std::string> labelled(sink.lines.begin() + 1, sink.lines.end());
    EXPECT_EQ(labelled, (std::vector<std::string>{
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
    struct Case {
        NlmVersion version;
        const char* text;
        const char* date;
    };
    const Case cases[] = {
        {{4, 11, 0, 1996, 3, 7}, "4.11", "1996-03-07"},
        {{5, 0, 1, 2001, 12, 31}, "5.00A", "2001-12-31"},
        {{4, 5, 191, 95, 1, 1}, "4.05\xFF", "95-01-01"},
        {{4, 5, 192, 0, 123, 100}, "4.05", "0-23-00"},
        {{4, -105, -1, -1996, -3, -7}, "4.5", "1996-03-07"},
        {{-2147483647 - 1, 2147483647, 0, 7, 0, 0}, "2147483648.47", "7-00-00"},
    };
    for (const Case& c : cases) {
        NlmModule module = FullModule();
        module.version = c.version;
        const ScanRecord r = ScanModule(module);
        EXPECT_EQ(r.HdrVersion, c.text) << c.text;
        EXPECT_EQ(r.HdrDate, c.date) << c.text;
    }
}

TEST(NlmTest, TagsAwayFromTheirPlaceAreLookedForButTheCopyrightIsNot) {
    NlmModule module = FullModule();
    module.gapBeforeLong = 7;
    module.gapBeforeVersion = 3;
    ScanRecord r = ScanModule(module);
    EXPECT_EQ(r.HdrLong, "System Console Server Thread");
    EXPECT_EQ(r.HdrVersion, "3.12B");
    EXPECT_EQ(r.CopyrightText, "(C) Copyright 1996 Novell, Inc.");

    module.gapBeforeCopyright = 1;
    EXPECT_EQ(ScanModule(module).CopyrightText, "");

    module = FullModule();
    module.version.reset();
    r = ScanModule(module);
    EXPECT_EQ(r.HdrLong, "System Console Server Thread");
    EXPECT_EQ(r.HdrVersion, "");
    EXPECT_EQ(r.HdrDate, "");

    module.screenName.reset();
    r = ScanModule(module);
    EXPECT_EQ(r.HdrLong, "");
    EXPECT_EQ(r.HdrDescription, "NetWare File Server");
    EXPECT_EQ(r.HdrImports, "CLIB    , MATHLIB , STREAMSL");
}

TEST(NlmTest, DependencyTable) {
    NlmModule module = FullModule();
    module.dependencyCount = 0;
    EXPECT_EQ(ScanModule(module).HdrImports, "");

    // A count larger than the names read adds no blank entries.
    module.dependencyCount = 100000;
    module.size = module.dependencyOffset + 1 + 4 + 1 + 7 + 1 + 11;
    EXPECT_EQ(ScanModule(module).HdrImports, "CLIB    , MATHLIB , STREAMSL");

    module = FullModule();
    module.headerVersion = 0x84;
    EXPECT_EQ(ScanModule(module).HdrImports, "");

    module = FullModule();
    module.dependencyOffset = 0x7FFFFFF0;
    module.dependencies.clear();
    module.dependencyCount = 3;
    EXPECT_EQ(ScanModule(module).HdrImports, "");
}

TEST(NlmTest, DependencyTableOfAFileShorterThanTheHeaderBlock) {
    // The table lies inside a file of 400 bytes: it is read from its offset,
    // not from an offset counted from the end of a full header block.
    NlmModule module = FullModule();
    module.dependencyOffset = 300;
    module.size = 400;
    EXPECT_EQ(ScanModule(module).HdrImports, "CLIB    , MATHLIB , STREAMSL");
}

TEST(NlmTest, FieldsReachingPastTheHeaderBlockAreCutAtItsEnd) {
    NlmModule module = FullModule();
    module.description = std::string(255, 'D');
    module.screenName = std::string(60, 'S');
    module.threadName = std::string(41, 'T');
    module.copyright = std::string(200, 'C');
    const ScanRecord r = ScanModule(module);
    EXPECT_EQ(r.HdrDescription, module.description);
    // " LONG" at 395, the names end at 503: the version tag no longer fits.
    EXPECT_EQ(r.HdrLong, *module.screenName + " " + module.threadName);
    EXPECT_EQ(r.HdrVersion, "");

    module.threadName = "T";
    module.copyright = std::string(200, 'C');
    // The version record at 465 fits; the copyright text, from 508, is cut at 512.
    EXPECT_EQ(ScanModule(module).CopyrightText, "CCCC");
}

NlmContainer TwoModuleContainer() {
    NlmContainer container;
    container.container.name = "BUNDLE.NLM";
    container.container.description = "Module Bundle";
    NlmModule first = FullModule();
    first.name = "FIRST.NLM";
    first.dependencies = {"CLIB"};
    NlmModule second;
    second.name = "SECOND\xE9.NLM";
    second.description = "Second Module";
    second.dependencyOffset = 600;
    second.dependencies = {"FIRST"};
    container.modules = {ContainedModule{.module = first, .prefixed = false, .length = {}},
                         ContainedModule{.module = second, .prefixed = true, .length = {}}};
    return container;
}

TEST(NlmTest, ContainerReportsEachModuleUnderAStarAndItsName) {
    const testing::RecordingSink sink =
        Scan("BUNDLE.NLM", fixtures::MakeNlmContainer(TwoModuleContainer()));
    ASSERT_EQ(sink.reports.size(), 3u);
    EXPECT_EQ(sink.reports[0].name, "BUNDLE.NLM");
    EXPECT_EQ(sink.reports[0].size, 1024 + 16 + 1024 + 16 + 1024);
    EXPECT_EQ(sink.reports[0].record.HdrDescription, "Module Bundle");

    EXPECT_EQ(sink.reports[1].name, "*FIRST.NLM");
    EXPECT_EQ(sink.reports[1].size, 1024);
    EXPECT_EQ(sink.reports[1].modified, "");
    EXPECT_EQ(sink.reports[1].record.HdrVersion, "3.12B");
    EXPECT_EQ(sink.reports[1].record.HdrImports, "CLIB    ");

    // The second module starts after a 0x22222222 prefix; its dependency table
    // offset counts from its own header.
    EXPECT_EQ(sink.reports[2].name, "*SECOND\u00E9.NLM");
    EXPECT_EQ(sink.reports[2].record.HdrDescription, "Second Module");
    EXPECT_EQ(sink.reports[2].record.HdrVersion, "");
    EXPECT_EQ(sink.reports[2].record.HdrImports, "FIRST   ");
    EXPECT_EQ(sink.lines[sink.lines.size() - 4],
              "*SECOND\u00E9.NLM" + std::string(18, ' ') + "1,024 ");
}

TEST(NlmTest, ContainerWalkEnds) {
    NlmContainer container = TwoModuleContainer();
    container.directorySignature = 0x4B504B51;
    EXPECT_EQ(Scan("X.NLM", fixtures::MakeNlmContainer(container)).reports.size(), 1u);

    // The custom data offset names a directory beyond the end of the file.
    fixtures::ByteWriter image;
    image.PutBytes(0, fixtures::MakeNlmContainer(TwoModuleContainer())).PutU32(62, 0x7FFFFFF0);
    EXPECT_EQ(Scan("X.NLM", image.Data()).reports.size(), 1u);

    // A module length of 0 or below is reported as the size and ends the walk.
    for (const std::int32_t length : {0, -1024}) {
        container = TwoModuleContainer();
        container.modules[0].length = length;
        const testing::RecordingSink sink = Scan("X.NLM", fixtures::MakeNlmContainer(container));
        ASSERT_EQ(sink.reports.size(), 2u);
        EXPECT_EQ(sink.reports[1].size, length);
    }

    // A first module beyond the end of the file: the container alone.
    container = TwoModuleContainer();
    container.firstModuleOffset = 0x10000000;
    container.modules.clear();
    EXPECT_EQ(Scan("X.NLM", fixtures::MakeNlmContainer(container)).reports.size(), 1u);
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
