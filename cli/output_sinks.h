#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "file_digests.h"
#include "report_sink.h"

namespace kestrel {

// The writers append their text to `out`, which kestrel-scan writes out in
// walk order (its workers each have writers of their own).

// The report as text: exactly the lines of the window's result list, each
// ended by "\n".
class TextSink : public ReportSink {
public:
    explicit TextSink(std::string& out) : m_out(out) {}
    void AddLine(const std::string& line) override;

private:
    std::string& m_out;
};

// Told of what goes wrong with one report beside it (a digest that could not
// be computed, a limit reached while the facts were read): the text follows
// the report's path, as in "kestrel-scan: PATH: TEXT".
using ReportProblem = std::function<void(const std::string& path, const std::string& text)>;

// One report as a JSON object: the report's fields, then the facts beside
// them and the digests. `digests` may be null.
nlohmann::ordered_json ReportObject(const ReportInfo& report, FileDigests* digests,
                                    const ReportProblem& problem);

// RFC 3339 with the local offset ("2024-05-01T12:34:56+02:00"), or "" for
// QuillScan::kNoFileTime.
std::string Rfc3339LocalTime(std::int64_t secondsSinceEpoch);

// The report as JSON Lines: one object per report, nothing for list lines.
class JsonSink : public ReportSink {
public:
    JsonSink(std::string& out, FileDigests* digests = nullptr, ReportProblem problem = {})
        : m_out(out), m_digests(digests), m_problem(std::move(problem)) {}
    void AddLine(const std::string&) override {}
    void AddReport(const ReportInfo& report) override;

private:
    std::string& m_out;
    FileDigests* m_digests;
    ReportProblem m_problem;
};

// The report as CSV (RFC 4180): a header row of the JSON object's scalar
// values (nested ones named "pe.machine"), lists joined with "; ", then one
// row per report. Rows end with CR LF.
class CsvSink : public ReportSink {
public:
    CsvSink(std::string& out, FileDigests* digests = nullptr, ReportProblem problem = {});
    void AddLine(const std::string&) override {}
    void AddReport(const ReportInfo& report) override;
    // The header row, written once before the first report.
    std::string HeaderRow() const;

private:
    std::string& m_out;
    FileDigests* m_digests;
    ReportProblem m_problem;
    std::vector<std::string> m_columns; // JSON pointers into the report object
};

// One CSV field: quoted when it holds a comma, a quote, CR or LF, with its
// quotes doubled.
std::string CsvField(const std::string& text);

// JSON text with DEL and the C1 controls (U+0080 to U+009F) written as \u
// escapes, as the C0 controls already are: no control character reaches a
// terminal that shows the output.
std::string EscapeDelAndC1(const std::string& json);

} // namespace kestrel
