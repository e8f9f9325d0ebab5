#pragma once

#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "memory_source.h"
#include "quill_scan.h"
#include "sample_builder.h"

namespace kestrel::testing {

// Keeps every list line and a copy of every report's record, in order.
class RecordingSink : public ReportSink {
public:
    struct Report {
        ScanRecord record;
        std::string name;
        std::int64_t size;
    };
    void AddLine(const std::string& line) override { lines.push_back(line); }
    void AddReport(const ReportInfo& report) override {
        reports.push_back({report.record, report.name, report.size});
    }

    std::vector<std::string> lines;
    std::vector<Report> reports;
};

// Everything the scanner reports for the file a description builds, named
// by its "file" field (FILE.BIN when none).
inline RecordingSink Scan(const fixtures::Json& description, ReportLocale locale = {}) {
    fixtures::MemorySource source(fixtures::BuildSample(description));
    RecordingSink sink;
    QuillScan scanner(sink, {}, std::move(locale));
    scanner.SetReadFacts(true); // as the JSON writer does: the report must not change
    scanner.ScanSourceAs(source, "/samples/", description.value("file", "FILE.BIN"), 1);
    return sink;
}

// The record of the one report of such a file.
inline ScanRecord ScanRecordOf(const fixtures::Json& description) {
    const RecordingSink sink = Scan(description);
    EXPECT_EQ(sink.reports.size(), 1u);
    return sink.reports.empty() ? ScanRecord{} : sink.reports.back().record;
}

// A row of a table-driven test: its name (the test's name in ctest), a
// description or a change merged over a base one, and what is expected.
struct Row {
    const char* name;
    const char* description;
    const char* expected;
};

// A failing row shows its name and fields.
inline void PrintTo(const Row& row, std::ostream* os) {
    *os << row.name << ": \"" << row.description << "\" gives \"" << row.expected << "\"";
}

// The name generator of a suite of rows that each have a name.
struct RowName {
    template <class T>
    std::string operator()(const ::testing::TestParamInfo<T>& info) const {
        return info.param.name;
    }
};

} // namespace kestrel::testing
