#pragma once

#include <string>

#include <QString>

namespace kestrel {

// A file or directory name as the lists show it: a control character (a tab,
// a line feed, DEL), which would show as a gap or nothing, becomes its symbol
// from Unicode's Control Pictures (U+2409 for a tab); each byte that is not
// part of valid UTF-8 becomes U+FFFD, as in the report.
QString VisibleName(const std::string& name);

} // namespace kestrel
