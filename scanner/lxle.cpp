// LE and LX executables.

#include "quill_scan.h"

namespace kestrel {

// Placeholder until the LE and LX reader lands: it finds nothing, so the file goes
// on to the marker scan.
void QuillScan::ParseLxLe() {}

} // namespace kestrel
