// The rules of the readers, kept as tables in rules/*.json: each rule names
// the record fields it shows, a base description (or several, each row run on
// every one) and rows of a name, a change merged over the base and the fields
// expected of the file's reports: "|" between fields, ";" between reports.

#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "recording_sink.h"

namespace kestrel {
namespace {

using fixtures::Json;

struct RuleRow {
    std::string name;
    std::vector<Json> files;
    std::vector<std::string> fields;
    std::string expected;
};

std::vector<RuleRow> LoadRules() {
    std::vector<RuleRow> rows;
    for (const auto& entry : std::filesystem::directory_iterator(KESTREL_RULES_DIR)) {
        for (const Json& rule : Json::parse(std::ifstream(entry.path()))) {
            for (const Json& row : rule["rows"]) {
                RuleRow& r = rows.emplace_back(rule["rule"].get<std::string>() + "_" +
                                                   row[0].get<std::string>(),
                                               std::vector<Json>{}, rule["fields"], row[2]);
                for (Json file :
                     rule.contains("bases") ? rule["bases"] : Json::array({rule["base"]})) {
                    file.merge_patch(row[1]);
                    r.files.push_back(file);
                }
            }
        }
    }
    return rows;
}

// Record texts are bytes; the tables write each byte as the character of
// its code.
std::string Latin1(const std::string& bytes) {
    std::string text;
    for (const char c : bytes) {
        const auto code = static_cast<std::uint8_t>(c);
        text += code < 0x80 ? std::string(1, c)
                            : std::string{static_cast<char>(0xC0 | code >> 6),
                                          static_cast<char>(0x80 | (code & 0x3F))};
    }
    return text;
}

// "Report" is the report's name and size; "Res" every row in use of the
// version resource table as "row:key=value; ", "Res1" the value of row 1;
// "Imports" and "DelayImports" the facts' lists, each name followed by " ",
// or "-" for none; "Limits" the number of limits said.
std::string Field(const testing::RecordingSink::Report& report, const std::string& field) {
    const ScanRecord& r = report.record;
    if (field == "Report")
        return report.name + " " + std::to_string(report.size);
    std::string rows;
    for (int row = 1; row <= r.ResStringCount; ++row) {
        if (row > kResStringKnownRows || !r.ResKey(row).empty())
            rows += std::to_string(row) + ":" + r.ResKey(row) + "=" + r.ResValue(row) + "; ";
    }
    const auto list = [](const std::optional<std::vector<std::string>>& names) {
        std::string text = names ? "" : "-";
        for (const std::string& name : names.value_or(std::vector<std::string>{}))
            text += name + " ";
        return text;
    };
    if (field == "Limits")
        return std::to_string(r.Facts.limitsReached.size());
    if (field == "Imports" || field == "DelayImports")
        return list(field == "Imports" ? r.Facts.imports : r.Facts.delayImports);
    const std::map<std::string, std::string> texts = {{"ExeSignature", r.ExeSignature},
                                                      {"HdrName", r.HdrName},
                                                      {"HdrDescription", r.HdrDescription},
                                                      {"HdrVersion", r.HdrVersion},
                                                      {"HdrDate", r.HdrDate},
                                                      {"HdrLong", r.HdrLong},
                                                      {"HdrImports", r.HdrImports},
                                                      {"NwVersion", r.NwVersion},
                                                      {"NwOverlay", r.NwOverlay},
                                                      {"CopyrightText", r.CopyrightText},
                                                      {"GuessText", r.GuessText},
                                                      {"Res", rows},
                                                      {"Res1", r.ResValue(1)}};
    return Latin1(texts.at(field));
}

void PrintTo(const RuleRow& row, std::ostream* os) {
    *os << row.name << ": " << Json(row.fields).dump() << " = \"" << row.expected << "\"";
}

class ReaderRule : public ::testing::TestWithParam<RuleRow> {};

TEST_P(ReaderRule, Holds) {
    for (const Json& file : GetParam().files) {
        const auto reports = testing::Scan(file).reports;
        std::string found;
        for (std::size_t n = 0; n < reports.size(); ++n) {
            for (std::size_t i = 0; i < GetParam().fields.size(); ++i)
                found += (n > 0 && i == 0 ? ";"
                          : i > 0         ? "|"
                                          : "") +
                         Field(reports[n], GetParam().fields[i]);
        }
        EXPECT_EQ(found, GetParam().expected) << file.dump();
    }
}

INSTANTIATE_TEST_SUITE_P(Tables, ReaderRule, ::testing::ValuesIn(LoadRules()), testing::RowName());

} // namespace
} // namespace kestrel
