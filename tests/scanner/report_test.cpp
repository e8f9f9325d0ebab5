#include <gtest/gtest.h>

#include "recording_sink.h"

namespace kestrel {
namespace {

using testing::Row;

class PadVersionColumn : public ::testing::TestWithParam<Row> {};

// The version token ends in column 11 of the brief text: digits, full stops
// and commas, a letter right after a digit, a space after a comma. Plain
// tokens, one of twelve and texts without one are in the golden brief output.
TEST_P(PadVersionColumn, TokenEndsInColumnEleven) {
    std::string text = GetParam().description;
    EXPECT_EQ(QuillScan::PadVersionColumn(text), GetParam().expected);
    EXPECT_EQ(text, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Tokens, PadVersionColumn,
    ::testing::Values(Row{"Commas", "1,2,3 Tool", "      1,2,3 Tool"},
                      Row{"SpaceAfterAComma", "4.0, 1996 Tool", "  4.0, 1996 Tool"},
                      Row{"LetterAfterACommaEndsAtTheComma", "4.0, Tool", "        4.0, Tool"},
                      Row{"Empty", "", "            "},
                      Row{"TokenOfEleven", "12345678901 x", "12345678901 x"}),
    testing::RowName());

// The window's locale: its group separator, of any length, and its text of a
// file time, for the size column of 13 characters and the date after it.
TEST(ReportLocale, SeparatorAndFileTimeComeFromTheFrontEnd) {
    const ReportLocale locale{"\u202F", [](std::int64_t time) { return std::to_string(time); }};
    const auto lines =
        testing::Scan(fixtures::Describe(R"({"file": "BIG.DAT", "size": 1234567})"), locale).lines;
    EXPECT_EQ(lines.at(0), "BIG.DAT" + std::string(19, ' ') + "1\u202F234\u202F567 1");
}

} // namespace
} // namespace kestrel
