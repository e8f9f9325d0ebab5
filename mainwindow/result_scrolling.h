#pragma once

#include <string>

namespace kestrel {

class ResultListModel;

// How the result list's lines are told apart by their first character.
bool IsDirectoryLine(const ResultListModel& lines, int index);
bool IsFileLine(const ResultListModel& lines, int index); // a report's first line

// Where the top of the result list snaps after a scroll from `lastTop` to
// `top`: down (or not moved), the first file line from `top` on; up, the
// nearest file line at or above `top`. -1 when there is none.
int SnapTopIndex(const ResultListModel& lines, int top, int lastTop);

// The nearest directory line at or above `index`, or -1.
int DirectoryLineAtOrAbove(const ResultListModel& lines, int index);

// The directory a directory line names: the line without its brackets.
std::string DirectoryOfLine(const ResultListModel& lines, int index);

} // namespace kestrel
