#pragma once

#include <memory>

#include <QString>

#include "line_kind.h"

namespace kestrel {

// The lines of a report as the printer and the scrolling read them.
class ReportLines {
public:
    virtual ~ReportLines() = default;
    virtual int LineCount() const = 0;
    // Outside the list: the empty text, and kind InReport.
    virtual QString LineText(int index) const = 0;
    virtual LineKind Kind(int index) const = 0;
    // The lines as they are now, kept while the list goes on changing (a
    // print runs beside the window); null when the memory cannot be had.
    virtual std::unique_ptr<const ReportLines> Copy() const = 0;
};

} // namespace kestrel
