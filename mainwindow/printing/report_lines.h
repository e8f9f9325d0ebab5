#pragma once

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
};

} // namespace kestrel
