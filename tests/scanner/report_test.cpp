#include <gtest/gtest.h>

#include "quill_scan.h"
#include "recording_sink.h"

namespace kestrel {
namespace {

TEST(ReportTest, ClearedRecordGivesHeaderLineAlone) {
    testing::RecordingSink sink;
    QuillScan scanner(sink);
    scanner.ClearScanRecord();
    scanner.ComposeReport("/nowhere/", "*MODULE", 0);
    ASSERT_EQ(sink.lines.size(), 1u);
    EXPECT_EQ(sink.lines[0],
              "*MODULE" + std::string(11, ' ') + "    " + std::string(13, ' ') + " ");
}

} // namespace
} // namespace kestrel
