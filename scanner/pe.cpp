// PE executables.

#include "quill_scan.h"

namespace kestrel {

// Placeholder until the PE reader lands: it finds nothing, so the file goes
// on to the marker scan.
void QuillScan::ParsePe() {}

} // namespace kestrel
