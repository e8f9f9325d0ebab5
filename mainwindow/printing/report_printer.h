#pragma once

#include <QStringList>

class QWidget;

namespace kestrel {

// Shows the print dialog over `parent` and prints the result list lines in
// pages, as many copies as the dialog asks for, each a document of its own.
// False when the dialog is cancelled or the printing fails.
bool PrintResultLines(QWidget* parent, const QStringList& lines, bool briefFormat);

} // namespace kestrel
