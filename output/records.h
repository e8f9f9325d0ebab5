#pragma once

// What makes the JSON records of one run comparable with another's: who made
// them (`made_by`) and the file on disk each file's records end with
// (`disk_file`). kestrel-scan --json writes them, --reuse reads them back, and
// the window writes the same when it saves its results as JSON Lines.

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "look_inside.h"
#include "output_sinks.h"
#include "walk.h"

namespace kestrel {

// The version kestrel-scan tells, and puts in every JSON record.
inline constexpr char kVersion[] = "1.0";

// All that shapes a file's records besides the file itself. Which files are
// scanned (-r, --exclude, ...) is not part of it.
struct RecordShape {
    std::vector<std::string> hashes; // the digests asked for
    bool lookInside = false;
    std::vector<std::string> patterns; // with lookInside: the members reported
    ContainerLimits limits;            // with lookInside
};

// `made_by`: "kestrel-scan VERSION" and a digest of the shape and of the
// time zone `modified` is written in.
std::string MadeBy(const RecordShape& shape);

// The file on disk as it is now; none for a file that is gone or is not a
// regular file.
std::optional<DiskFile> LookAt(const FileToScan& file);

// The step of a run that writes JSON records around the scan step: the
// records of each file end with its identity as it was looked at before it
// was read (null when a problem was met reading it).
using JsonSinkOf = std::function<JsonSink&(ReportSink& sink)>;
ScanStep RecordStep(ScanStep scan, JsonSinkOf jsonSinkOf);

} // namespace kestrel
