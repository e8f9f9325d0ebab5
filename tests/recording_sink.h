#pragma once

#include <string>
#include <vector>

#include "report_sink.h"

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

} // namespace kestrel::testing
