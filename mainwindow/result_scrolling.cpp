#include "result_scrolling.h"

#include <algorithm>

#include "report_lines.h"

namespace kestrel {

namespace {

bool IsReportStart(const ReportLines& lines, int index) {
    return lines.Kind(index) == LineKind::ReportStart;
}

} // namespace

int SnapTopIndex(const ReportLines& lines, int top, int lastTop) {
    if (top >= lastTop) {
        for (int i = std::max(top, 0); i < lines.LineCount(); ++i) {
            if (IsReportStart(lines, i))
                return i;
        }
        return -1;
    }
    for (int i = std::min(top, lines.LineCount() - 1); i >= 0; --i) {
        if (IsReportStart(lines, i))
            return i;
    }
    return -1;
}

int DirectoryLineAtOrAbove(const ReportLines& lines, int index) {
    for (int i = std::min(index, lines.LineCount() - 1); i >= 0; --i) {
        if (lines.Kind(i) == LineKind::Directory)
            return i;
    }
    return -1;
}

std::string DirectoryOfLine(const ReportLines& lines, int index) {
    const QString line = lines.LineText(index);
    if (line.size() < 2)
        return {};
    return line.mid(1, line.size() - 2).toStdString();
}

} // namespace kestrel
