#pragma once

namespace kestrel {

class ResultListView;

// Lets assistive technology read the result list: a list whose children are
// its lines, list items that hold the line's text and say whether the line
// is selected and whether it is the current one. The items are made when a
// screen reader asks for them, so a list of millions of lines costs nothing
// until then.
void InstallResultListAccessibility();

// What the view tells the screen reader: the list was emptied or filled
// anew (items made before are let go), and the current line moved or the
// selection changed.
void ResultListReset(ResultListView& view);
void ResultListCurrentChanged(ResultListView& view);

} // namespace kestrel
