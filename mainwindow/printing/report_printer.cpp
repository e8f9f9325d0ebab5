#include "report_printer.h"

#include <QDateTime>
#include <QDialog>
#include <QLocale>
#include <QPrintDialog>
#include <QPrinter>

#include "printer_target.h"

namespace kestrel {

bool ReportPrinter::Print(QWidget* parent, const ReportLines& lines, bool briefFormat) {
    QPrinter printer(QPrinter::HighResolution);
    // The dialog names a new output file after the document.
    printer.setDocName(QStringLiteral("kestrel-report"));
    printer.setOutputFileName(m_lastOutputFile);
    QPrintDialog dialog(&printer, parent);
    // The whole list is always printed: no page range, no selection.
    dialog.setOption(QAbstractPrintDialog::PrintPageRange, false);
    dialog.setOption(QAbstractPrintDialog::PrintSelection, false);
    dialog.setOption(QAbstractPrintDialog::PrintCurrentPage, false);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    // Empty when the report went to a printer: the dialog then offers one.
    m_lastOutputFile = printer.outputFileName();

    const QString headerDate =
        QLocale::system().toString(QDateTime::currentDateTime(), QLocale::ShortFormat);
    return PrintOnPrinter(printer, lines, briefFormat, headerDate);
}

} // namespace kestrel
