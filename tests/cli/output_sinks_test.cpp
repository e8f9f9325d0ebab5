// The JSON and CSV writers' own rules: what the sample tree's golden output
// does not show (plain and comma'd CSV fields, UTC times and the bytes of a
// code page 1252 name are there).

#include <cstdlib>
#include <ctime>
#include <string>

#include <gtest/gtest.h>

#include "output_sinks.h"
#include "quill_scan.h"

namespace kestrel {
namespace {

TEST(OutputSinksTest, CsvFieldDoublesItsQuotes) {
    EXPECT_EQ(CsvField("the \"best\""), "\"the \"\"best\"\"\"");
}

TEST(OutputSinksTest, ModifiedTimeCarriesTheLocalOffset) {
    const std::int64_t noon = 836481600; // 1996-07-04 12:00:00 UTC
    const struct {
        const char* zone;
        std::int64_t time;
        std::string text;
    } cases[] = {
        {"IST-5:30", noon, "1996-07-04T17:30:00+05:30"},
        {"NST+3:30", noon - 12 * 3600, "1996-07-03T20:30:00-03:30"},
        {"UTC0", QuillScan::kNoFileTime, ""}, // last: the other tests' zone
    };
    for (const auto& c : cases) {
        ::setenv("TZ", c.zone, 1);
        ::tzset();
        EXPECT_EQ(Rfc3339LocalTime(c.time), c.text) << c.zone;
    }
}

// A name cut inside a UTF-8 sequence is shown with U+FFFD, its bytes kept.
TEST(OutputSinksTest, NameBytesOfANameCutInsideASequence) {
    const nlohmann::ordered_json object =
        ReportObject(ReportInfo{ScanRecord{}, "/srv/", "A\xC3", 0, ""}, nullptr, {});
    EXPECT_EQ(object["path"], "/srv/A\xEF\xBF\xBD");
    EXPECT_EQ(object["name_bytes"], "QcM=");
}

} // namespace
} // namespace kestrel
