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

// A file on disk as it was when its records were made, as --reuse compares
// it: the file is not opened again while all of these are the same.
struct DiskFile {
    std::uint64_t inode = 0;
    std::int64_t size = 0;
    std::int64_t modifiedNs = 0; // st_mtim, nanoseconds since the epoch
    std::int64_t changedNs = 0;  // st_ctim: also moves when a time is set back by hand
};

// `"disk_file":{"inode":…,"size":…,"mtime_ns":…,"ctime_ns":…}`, the member
// that ends the last record of a file on disk.
std::string DiskFileMember(const DiskFile& file);

// The report as JSON Lines: one object per report, nothing for list lines.
// Each object ends with `made_by` when it is given (what tells the records
// of one version and set of options from others).
class JsonSink : public ReportSink {
public:
    JsonSink(std::string& out, FileDigests* digests = nullptr, ReportProblem problem = {},
             std::string madeBy = {})
        : m_out(out), m_digests(digests), m_problem(std::move(problem)),
          m_madeBy(std::move(madeBy)) {}
    void AddLine(const std::string&) override {}
    void AddReport(const ReportInfo& report) override;

    // The reports of one file on disk (its own, its embedded modules', its
    // members') come between these two: the last of them is held back until
    // EndFile, which ends it with `disk_file`, the file's identity, or null
    // when there is none to trust (a problem was said, the file could not
    // be looked at). So each file's records end with a line that says so.
    void BeginFile() { m_inFile = true; }
    void EndFile(const std::optional<DiskFile>& file);

private:
    std::string& m_out;
    FileDigests* m_digests;
    ReportProblem m_problem;
    std::string m_madeBy;
    bool m_inFile = false;
    std::string m_heldRecord; // without its "}" and line end
};

// Bytes as base64 text, as `name_bytes` holds a name that is not UTF-8.
std::string Base64(const std::string& bytes);

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
