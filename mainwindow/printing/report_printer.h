#pragma once

#include <QString>

class QWidget;

namespace kestrel {

class ReportLines;

// Prints the result list: shows the print dialog over the window, without a
// page range since the whole list is always printed, and prints the lines in
// pages, as many copies as the dialog asks for, each a document of its own.
// The dialog offers the output file chosen last time.
class ReportPrinter {
public:
    // False when the dialog is cancelled or the printing fails.
    bool Print(QWidget* parent, const ReportLines& lines, bool briefFormat);

private:
    QString m_lastOutputFile;
};

} // namespace kestrel
