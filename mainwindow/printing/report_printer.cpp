#include "report_printer.h"

#include <QDateTime>
#include <QDialog>
#include <QLocale>
#include <QPrintDialog>
#include <QPrinter>

#include "printer_target.h"

namespace kestrel {

bool PrintResultLines(QWidget* parent, const QStringList& lines, bool briefFormat) {
    QPrinter printer(QPrinter::HighResolution);
    QPrintDialog dialog(&printer, parent);
    // The whole list is always printed: no page range, no selection.
    dialog.setOption(QAbstractPrintDialog::PrintPageRange, false);
    dialog.setOption(QAbstractPrintDialog::PrintSelection, false);
    dialog.setOption(QAbstractPrintDialog::PrintCurrentPage, false);
    if (dialog.exec() != QDialog::Accepted)
        return false;

    const QString headerDate =
        QLocale::system().toString(QDateTime::currentDateTime(), QLocale::ShortFormat);
    return PrintOnPrinter(printer, lines, briefFormat, headerDate);
}

} // namespace kestrel
