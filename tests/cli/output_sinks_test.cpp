// The JSON and CSV writers' own rules: what a report object cannot show of
// itself through the sample tree.

#include <cstdlib>
#include <ctime>
#include <string>

#include <gtest/gtest.h>

#include "output_sinks.h"
#include "quill_scan.h"

namespace kestrel {
namespace {

TEST(OutputSinksTest, CsvFieldsAreQuotedOnlyWhenTheyMustBe) {
    const struct {
        const char* name;
        std::string text;
        std::string field;
    } cases[] = {
        {"plain", "KERNEL32.dll", "KERNEL32.dll"},
        {"empty", "", ""},
        {"comma", "Widgets, Inc.", "\"Widgets, Inc.\""},
        {"quote", "the \"best\"", "\"the \"\"best\"\"\""},
        {"line break", "3.10\r\nbeta", "\"3.10\r\nbeta\""},
        {"lone carriage return", "a\rb", "\"a\rb\""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CsvField(c.text), c.field) << c.name;
}

TEST(OutputSinksTest, ModifiedTimeCarriesTheLocalOffset) {
    const std::int64_t noon = 836481600; // 1996-07-04 12:00:00 UTC
    const struct {
        const char* zone;
        std::int64_t time;
        std::string text;
    } cases[] = {
        {"UTC0", noon, "1996-07-04T12:00:00+00:00"},
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

TEST(OutputSinksTest, NameBytesOnlyForANameThatIsNotUtf8) {
    const ScanRecord record;
    const std::string directory = "/srv/";
    const struct {
        const char* name;
        std::string fileName;
        std::string shown;
        const char* bytes; // base64, or null for no key
    } cases[] = {
        {"UTF-8", "CAF\xC3\x89.DLL", "CAF\xC3\x89.DLL", nullptr},
        {"code page 1252", "CAF\xC9.DLL", "CAF\xEF\xBF\xBD.DLL", "Q0FGyS5ETEw="},
        {"cut sequence at the end", "A\xC3", "A\xEF\xBF\xBD", "QcM="},
    };
    for (const auto& c : cases) {
        const nlohmann::ordered_json object =
            ReportObject(ReportInfo{record, directory, c.fileName, 0, ""}, nullptr, {});
        EXPECT_EQ(object["name"], c.shown) << c.name;
        EXPECT_EQ(object["path"], "/srv/" + c.shown) << c.name;
        if (c.bytes != nullptr)
            EXPECT_EQ(object.value("name_bytes", ""), c.bytes) << c.name;
        else
            EXPECT_FALSE(object.contains("name_bytes")) << c.name;
    }
}

} // namespace
} // namespace kestrel
