#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "scan_record.h"

namespace kestrel {

// One report as the composer hands it out beside its list lines.
struct ReportInfo {
    const ScanRecord& record;
    const std::string& directory; // ends with "/"
    const std::string& name;      // file name, or "*" and the module name
    std::int64_t size;
    std::string modified; // the date text of the report, "" for an embedded module
    // The same time in seconds since 1970 (UTC), or INT64_MIN when there is none.
    std::int64_t modifiedTime = INT64_MIN;
    // For a member of a container: the file on disk that holds it (the
    // outermost one). Null for a file on disk.
    const std::string* container = nullptr;
};

// Where reports go: the window's result list, standard output or a JSON writer.
// Lines are UTF-8 and hold no control character below 32.
class ReportSink {
public:
    virtual ~ReportSink() = default;
    virtual void AddLine(const std::string& line) = 0;
    virtual void AddReport(const ReportInfo& report) { (void)report; }
};

// The layout switches of the report, filled by the front end.
struct ReportLayout {
    bool brief = false;
    bool hideVersion = false;
    bool hideImports = false;
    bool hideCompany = false;
    bool hideProgrammer = false;
};

// "YYYY-MM-DD HH:MM:SS" in local time; the time is left out at exactly midnight.
std::string FormatIsoLocalTime(std::int64_t secondsSinceEpoch);

// The locale of the report: the group separator of the size column and the
// text of a file time (whole seconds since the epoch). Both are UTF-8.
struct ReportLocale {
    std::string groupSeparator = ",";
    std::function<std::string(std::int64_t)> formatFileTime = FormatIsoLocalTime;
};

} // namespace kestrel
