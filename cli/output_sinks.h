#pragma once

#include <cstdio>

#include "report_sink.h"

namespace kestrel {

// The report as text: exactly the lines of the window's result list, each
// ended by "\n".
class TextSink : public ReportSink {
public:
    explicit TextSink(std::FILE* out) : m_out(out) {}
    void AddLine(const std::string& line) override;

private:
    std::FILE* m_out;
};

// The report as JSON Lines: one object per report, nothing for list lines.
class JsonSink : public ReportSink {
public:
    explicit JsonSink(std::FILE* out) : m_out(out) {}
    void AddLine(const std::string&) override {}
    void AddReport(const ReportInfo& report) override;

private:
    std::FILE* m_out;
};

} // namespace kestrel
