#pragma once

// Every format Kestrel looks inside, and what reads it: one table, so that
// `kestrel-scan --formats`, the README and the manual page say the same.

#include <span>
#include <string>

namespace kestrel {

struct FormatRow {
    const char* format;
    const char* reader;
    // Whether the reader can be used in this process; null: always (it is
    // linked in).
    bool (*available)();
};

std::span<const FormatRow> ReadFormats();

// The table as `--formats` prints it, one format a line, with
// "(not available)" after a reader that cannot be used now.
std::string FormatsText();

} // namespace kestrel
