#pragma once

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "quill_scan.h"
#include "report_sink.h"
#include "temp_tree.h"

namespace kestrel::testing {

// Keeps every list line and a copy of every report's record, in order.
class RecordingSink : public ReportSink {
public:
    struct Report {
        ScanRecord record;
        std::string directory;
        std::string name;
        std::int64_t size;
        std::string modified;
    };

    void AddLine(const std::string& line) override { lines.push_back(line); }
    void AddReport(const ReportInfo& report) override {
        reports.push_back(
            {report.record, report.directory, report.name, report.size, report.modified});
    }

    std::vector<std::string> lines;
    std::vector<Report> reports;
};

// Everything the scanner reported for one file written from `bytes` under
// `name` in a temporary directory.
inline RecordingSink ScanOneFile(const fixtures::Bytes& bytes, const std::string& name) {
    fixtures::TempTree tree;
    tree.Add(name, bytes);
    RecordingSink sink;
    QuillScan(sink).ScanFile(tree.RootWithSeparator(), name);
    return sink;
}

// The record of the one report of such a file.
inline ScanRecord ScanOneRecord(const fixtures::Bytes& bytes, const std::string& name) {
    RecordingSink sink = ScanOneFile(bytes, name);
    EXPECT_EQ(sink.reports.size(), 1u) << name;
    return sink.reports.empty() ? ScanRecord{} : sink.reports[0].record;
}

} // namespace kestrel::testing
