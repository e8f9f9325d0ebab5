// Embedded "VeRsIoN=", "OvErLaY=" and "CoPyRiGhT=" markers and version-like text.

#include "quill_scan.h"

namespace kestrel {

// Placeholder until the marker scanner lands: the file still gets its one
// report, from what the classification put into the record.
void QuillScan::ScanMarkers(const std::string& directoryPath, const std::string& fileName) {
    ComposeReport(directoryPath, fileName, ScanFileLength());
}

} // namespace kestrel
