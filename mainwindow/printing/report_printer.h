#pragma once

#include <memory>

#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include "printer_target.h"

class QProgressDialog;
class QWidget;

namespace kestrel {

class PrintJob;
class ReportLines;

// Prints the result list: shows the print dialog over the window, with the
// page range, then prints a copy of the lines beside the window, with the
// pages done and Cancel in a progress dialog that does not block the window.
// The dialog offers the output file chosen last time. An empty list, a range
// beyond the report and a failed print are said; one print runs at a time.
class ReportPrinter : public QObject {
    Q_OBJECT

public:
    ReportPrinter();
    ~ReportPrinter() override; // cancels a print running

    // True when a print has begun.
    bool Print(QWidget* parent, const ReportLines& lines, bool briefFormat);
    bool Printing() const { return m_job != nullptr; }

private:
    void ShowProgress();
    void JobFinished(PrintOutcome outcome);

    QString m_lastOutputFile;
    QPointer<QWidget> m_parent;
    std::unique_ptr<PrintJob> m_job;
    QPointer<QProgressDialog> m_progress;
    QTimer m_showProgress;
};

} // namespace kestrel
