// NetWare Loadable Modules.

#include "quill_scan.h"

namespace kestrel {

// Placeholder until the NLM header reader lands: the file still gets its one
// report, from the cleared record.
void QuillScan::ParseNlm(const std::string& directoryPath, const std::string& fileName) {
    ComposeReport(directoryPath, fileName, ScanFileLength());
}

} // namespace kestrel
