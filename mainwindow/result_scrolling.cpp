#include "result_scrolling.h"

#include "result_list_model.h"

namespace kestrel {

bool IsDirectoryLine(const ResultListModel& lines, int index) {
    return lines.Line(index).starts_with('[');
}

bool IsFileLine(const ResultListModel& lines, int index) {
    if (index < 0 || index >= lines.LineCount())
        return false;
    const std::string_view line = lines.Line(index);
    return !line.starts_with(' ') && !line.starts_with('[');
}

int SnapTopIndex(const ResultListModel& lines, int top, int lastTop) {
    if (top >= lastTop) {
        for (int i = top; i < lines.LineCount(); ++i) {
            if (IsFileLine(lines, i))
                return i;
        }
        return -1;
    }
    for (int i = top; i >= 0; --i) {
        if (IsFileLine(lines, i))
            return i;
    }
    return -1;
}

int DirectoryLineAtOrAbove(const ResultListModel& lines, int index) {
    for (int i = std::min(index, lines.LineCount() - 1); i >= 0; --i) {
        if (IsDirectoryLine(lines, i))
            return i;
    }
    return -1;
}

std::string DirectoryOfLine(const ResultListModel& lines, int index) {
    const std::string_view line = lines.Line(index);
    if (line.size() < 2)
        return {};
    return std::string(line.substr(1, line.size() - 2));
}

} // namespace kestrel
