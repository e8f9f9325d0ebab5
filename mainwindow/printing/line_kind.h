#pragma once

#include <cstdint>

namespace kestrel {

// What a line of the result list is. The kind is recorded when the line is
// made, by the walk or by the report composer, never guessed from the text: a
// file may be named "[zz].EXE" or " lead.EXE".
enum class LineKind : std::uint8_t {
    Directory,   // "[", a directory path ending in "/", "]"
    ReportStart, // the first line of a file's report (its only one in brief format)
    InReport,    // a labelled line of a report, or the continuation of one
};

} // namespace kestrel
