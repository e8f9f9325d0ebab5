#pragma once

#include <cstdint>

#include <QString>

namespace kestrel {

// What a line of the result list is. The kind is recorded when the line is
// made, by the walk or by the report composer, never guessed from the text: a
// file may be named "[zz].EXE" or " lead.EXE".
enum class LineKind : std::uint8_t {
    Directory,   // "[", a directory path ending in "/", "]"
    ReportStart, // the first line of a file's report (its only one in brief format)
    InReport,    // a labelled line of a report, or the continuation of one
};

// The lines of a report as the printer and the scrolling read them.
class ReportLines {
public:
    virtual ~ReportLines() = default;
    virtual int LineCount() const = 0;
    // Outside the list: the empty text, and kind InReport.
    virtual QString LineText(int index) const = 0;
    virtual LineKind Kind(int index) const = 0;
};

} // namespace kestrel
