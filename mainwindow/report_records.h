#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "line_buffer.h"
#include "report_sink.h"

namespace kestrel {

// Where the file of a report is, so that it can be read again: the report's
// own directory and name, and the file on disk they are found in when that
// is another (a container holding a member, an NLM holding a module).
struct ReportLocator {
    std::string directory;  // the report's, ending with "/"
    std::string name;       // the report's
    std::string container;  // the file on disk that holds a member; empty otherwise
    std::string embeddedIn; // the NLM file a module was found in; empty otherwise
};

// One report as the window keeps it: where its file is, the size and time
// the search saw, and for a member of a container the JSON object
// kestrel-scan writes for it (without digests, and without what belongs to a
// run rather than to the file: made_by, disk_file). A file on disk keeps no
// record: its Details read it again, which takes a moment, where a member may
// lie at the end of a disk image.
struct KeptReport {
    ReportLocator where;
    std::int64_t size = 0;
    std::int64_t modifiedTime = INT64_MIN; // seconds since 1970; INT64_MIN: none
    std::string record;                    // empty: not kept
};

// What the window keeps of each report of one search: the records of members
// until they take kRecordBudget bytes, and past that, as for a file on disk,
// only where the file is (a hundred bytes or so, less than the report's own
// lines take), so that the Details window reads it again. A member's record
// takes about a kilobyte: the budget keeps those of a quarter of a million.
class RecordKeeper {
public:
    static constexpr std::size_t kRecordBudget = std::size_t{256} << 20;

    explicit RecordKeeper(std::size_t budget = kRecordBudget) : m_left(budget) {}
    KeptReport Keep(const ReportInfo& report);

private:
    std::size_t m_left;
};

// The kept reports of a list, each by the list line its report starts on,
// in one text block with one entry per report.
class ReportRecords {
public:
    std::size_t Count() const { return m_entries.Size(); }
    // False, and nothing changed, when the memory cannot be had. Reports are
    // added in the order of their lines.
    bool Add(std::int64_t firstLine, const KeptReport& report);
    // Every report of `records`, its lines `lineOffset` further down.
    bool Append(const ReportRecords& records, std::int64_t lineOffset);
    // The report that starts on `firstLine`, if one does.
    std::optional<KeptReport> StartingAt(std::int64_t firstLine) const;
    void Clear();

private:
    struct Entry {
        std::int64_t firstLine;
        std::size_t start; // in m_text
        std::size_t size;
    };
    bool AddPacked(std::int64_t firstLine, const char* text, std::size_t size);

    // Per report: the locator's four texts, the size and the time in decimal,
    // each ended by NUL, then the record.
    GrowingArray<char> m_text;
    GrowingArray<Entry> m_entries;
};

} // namespace kestrel
