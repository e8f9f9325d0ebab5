#pragma once

#include <string>

#include <QString>

namespace kestrel {

// A file or directory name as the lists show it: a tab, which would show as a
// gap, becomes "→" as editors show it; another control character (a line
// feed, DEL), its symbol from Unicode's Control Pictures (few fonts have that
// for a tab); each byte that is not part of valid UTF-8 becomes U+FFFD, as
// in the report.
QString VisibleName(const std::string& name);

} // namespace kestrel
