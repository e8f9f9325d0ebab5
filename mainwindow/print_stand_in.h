#pragma once

#include <QStringList>

class QWidget;

namespace kestrel {

// Stands in for the report printer until it joins the window: prints nothing
// and answers false, as a cancelled print dialog does. It takes what the
// printer takes: the window as the dialog's parent, every line of the result
// list, and whether the report is in brief format.
bool PrintResultLinesStandIn(QWidget* parent, const QStringList& lines, bool briefFormat);

} // namespace kestrel
