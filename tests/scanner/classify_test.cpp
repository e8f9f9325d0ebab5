#include <gtest/gtest.h>

#include "byte_writer.h"
#include "mz_builder.h"
#include "quill_scan.h"
#include "recording_sink.h"
#include "temp_tree.h"

namespace kestrel {
namespace {

TEST(ClassifyTest, NonMzFileNamedComGoesToMarkerScanWithBlankSignature) {
    fixtures::TempTree tree;
    tree.Add("GAME.COM", "not an MZ program");
    testing::RecordingSink sink;
    QuillScan scanner(sink);
    scanner.ScanFile(tree.RootWithSeparator(), "GAME.COM");
    ASSERT_EQ(sink.reports.size(), 1u);
    EXPECT_EQ(sink.reports[0].record.ExeSignature, "  ");
}

} // namespace
} // namespace kestrel
