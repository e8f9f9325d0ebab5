#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "report_records.h"

namespace kestrel {

// The digests the Details window computes on request: those of --hash.
inline const std::vector<std::string> kDetailsDigests = {"sha256", "sha1", "md5"};

// A report read again from its file.
struct ReadAgain {
    std::string record;                // as RecordKeeper keeps it, with the digests; empty: none
    std::vector<std::string> problems; // "path: reason", what could not be read
};

// Scans the file on disk that holds the report at `where` once more, inside
// the container when it is a member, and makes the report's record as
// kestrel-scan --json --hash does with `digests` (none: no digests). The scan
// stops at `stop`, which it also sets once the report is found. The record is
// empty when the file could not be read (said in problems), when stopped, and
// when the file no longer holds the report.
ReadAgain ReadReportAgain(const ReportLocator& where, const std::vector<std::string>& digests,
                          std::atomic<bool>& stop);

} // namespace kestrel
