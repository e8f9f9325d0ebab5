#pragma once

#include <string>

namespace kestrel {

class ReportLines;

// Where the top of the result list snaps after a scroll from `lastTop` to
// `top`: down (or not moved), the first line of a report from `top` on; up,
// the nearest one at or above `top`. -1 when there is none. Lines are told
// apart by their kinds.
int SnapTopIndex(const ReportLines& lines, int top, int lastTop);

// The nearest directory line at or above `index`, or -1.
int DirectoryLineAtOrAbove(const ReportLines& lines, int index);

// The directory a directory line names: the line without its brackets.
std::string DirectoryOfLine(const ReportLines& lines, int index);

} // namespace kestrel
