#include "printer_target.h"

#include <algorithm>

#include <QFile>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QPageLayout>
#include <QPrinter>

#include "report_pages.h"

namespace kestrel {
namespace {

// A twip is 1/20 of a typographic point (1/1440 inch).
constexpr double kTwipsPerPoint = 20.0;
constexpr double kTwipsPerInch = 1440.0;

// The family asked for when the system has it in fixed pitch, else the
// system's own fixed-pitch font: a proportional face would break the columns.
QFont FixedPitchFont(const QString& family, double pointSize) {
    QFont font(family);
    font.setStyleHint(QFont::TypeWriter);
    font.setFixedPitch(true);
    if (!QFontInfo(font).fixedPitch())
        font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPointSizeF(pointSize);
    font.setBold(false);
    return font;
}

} // namespace

PrinterTarget::PrinterTarget(QPrinter& printer)
    : m_printer(printer), m_sharesFile(!printer.outputFileName().isEmpty()) {
    MeasureLines();
}

PrinterTarget::~PrinterTarget() {
    Finish();
}

void PrinterTarget::SetFont(const QString& family, double pointSize) {
    m_font = FixedPitchFont(family, pointSize);
    if (m_painter.isActive())
        m_painter.setFont(m_font);
    MeasureLines();
}

void PrinterTarget::SetBold(bool bold) {
    m_font.setBold(bold);
    if (m_painter.isActive())
        m_painter.setFont(m_font);
}

double PrinterTarget::TextHeight(const QString& text) {
    const double textHeight = QFontMetricsF(m_font, &m_printer).boundingRect(text).height();
    return std::max(textHeight, m_lineHeight) * TwipsPerDeviceUnit();
}

int PrinterTarget::PageHeight() {
    const double heightPoints = m_printer.pageLayout().paintRect(QPageLayout::Point).height();
    return static_cast<int>(heightPoints * kTwipsPerPoint);
}

bool PrinterTarget::PrintLine(const QString& text) {
    if (!m_painter.isActive()) {
        if (!BeginDocument())
            return false;
    } else if (m_continuesOnNewPage) {
        if (!NewPage())
            return false;
    }
    m_continuesOnNewPage = false;
    m_painter.drawText(QPointF(0.0, m_nextLineTop + m_ascent), text);
    m_nextLineTop += m_lineHeight;
    return true;
}

bool PrinterTarget::NewPage() {
    if (!m_printer.newPage())
        return false;
    m_nextLineTop = 0.0;
    return true;
}

// Beginning a printer again that writes to a file would truncate the file and
// keep only the last document, so there the next document follows on a new page
// and the file is closed by Finish.
bool PrinterTarget::EndDocument() {
    if (!m_painter.isActive())
        return true;
    if (m_sharesFile) {
        m_continuesOnNewPage = true;
        return true;
    }
    return m_painter.end();
}

// Qt's PDF and CUPS engines refuse abort(): there the job ends with what it
// holds. Engines that can cancel a job (the Windows one) drop it.
void PrinterTarget::AbortDocument() {
    m_printer.abort();
    if (m_painter.isActive())
        m_painter.end();
    m_continuesOnNewPage = false;
}

bool PrinterTarget::Finish() {
    m_continuesOnNewPage = false;
    if (!m_painter.isActive())
        return true;
    return m_painter.end();
}

bool PrinterTarget::BeginDocument() {
    if (!m_painter.begin(&m_printer))
        return false;
    m_painter.setFont(m_font);
    m_nextLineTop = 0.0;
    m_begun = true;
    return true;
}

void PrinterTarget::MeasureLines() {
    const QFontMetricsF metrics(m_font, &m_printer);
    m_ascent = metrics.ascent();
    m_lineHeight = metrics.height();
}

double PrinterTarget::TwipsPerDeviceUnit() const {
    return kTwipsPerInch / std::max(1, m_printer.logicalDpiY());
}

namespace {

// Passes a copy on to the printer, counting its pages as they begin; a line
// fails once the print is cancelled, which aborts the copy.
class CountedTarget final : public PrintTarget {
public:
    CountedTarget(PrintTarget& printer, PrintProgress& progress)
        : m_printer(printer), m_progress(progress) {}

    void SetFont(const QString& family, double pointSize) override {
        m_printer.SetFont(family, pointSize);
    }
    void SetBold(bool bold) override { m_printer.SetBold(bold); }
    double TextHeight(const QString& text) override { return m_printer.TextHeight(text); }
    int PageHeight() override { return m_printer.PageHeight(); }
    bool PrintLine(const QString& text) override {
        if (m_progress.cancel.load(std::memory_order_relaxed))
            return false;
        if (!m_pageBegun)
            ++m_progress.pagesPrinted;
        m_pageBegun = true;
        return m_printer.PrintLine(text);
    }
    bool NewPage() override {
        m_pageBegun = false;
        return m_printer.NewPage();
    }
    bool EndDocument() override {
        m_pageBegun = false;
        return m_printer.EndDocument();
    }
    void AbortDocument() override { m_printer.AbortDocument(); }

private:
    PrintTarget& m_printer;
    PrintProgress& m_progress;
    bool m_pageBegun = false;
};

void WidenMargins(QPrinter& printer) {
    const QMarginsF margins = printer.pageLayout().margins(QPageLayout::Millimeter);
    printer.setPageMargins(QMarginsF(std::max(margins.left(), kMinPageMarginMillimetres),
                                     std::max(margins.top(), kMinPageMarginMillimetres),
                                     std::max(margins.right(), kMinPageMarginMillimetres),
                                     std::max(margins.bottom(), kMinPageMarginMillimetres)),
                           QPageLayout::Millimeter);
}

} // namespace

PrintOutcome PrintOnPrinter(QPrinter& printer, const ReportLines& lines, bool briefFormat,
                            const QString& headerDate, PrintProgress& progress) {
    WidenMargins(printer);
    const int copies = std::max(1, printer.copyCount());
    printer.setCopyCount(1);
    const QPageRanges pages =
        printer.printRange() == QPrinter::PageRange ? printer.pageRanges() : QPageRanges();
    PrinterTarget target(printer);
    const int linesPerPage = PrepareReportFont(target);
    const int pagesPerCopy =
        CountReportPages(lines, briefFormat, linesPerPage, pages, progress.cancel);
    if (pagesPerCopy < 0)
        return PrintOutcome::Cancelled;
    if (pagesPerCopy == 0)
        return PrintOutcome::NothingToPrint;
    progress.pageCount = qint64{pagesPerCopy} * copies;

    CountedTarget counted(target, progress);
    bool printed = true;
    for (int copy = 1; copy <= copies && printed; ++copy)
        printed = PrintReportCopy(lines, briefFormat, headerDate, linesPerPage, counted, pages);
    printed = target.Finish() && printed;
    if (printed)
        return PrintOutcome::Printed;
    if (target.Begun() && !printer.outputFileName().isEmpty())
        QFile::remove(printer.outputFileName());
    return progress.cancel ? PrintOutcome::Cancelled : PrintOutcome::Failed;
}

} // namespace kestrel
