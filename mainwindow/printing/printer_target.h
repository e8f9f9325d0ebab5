#pragma once

#include <atomic>

#include <QFont>
#include <QPainter>
#include <QString>

#include "print_target.h"

class QPrinter;

namespace kestrel {

// Prints on a QPrinter through a QPainter: each document is one print job, begun
// by its first line. Lines are drawn as they stand, neither wrapped nor cut.
class PrinterTarget final : public PrintTarget {
public:
    explicit PrinterTarget(QPrinter& printer);
    ~PrinterTarget() override;
    PrinterTarget(const PrinterTarget&) = delete;
    PrinterTarget& operator=(const PrinterTarget&) = delete;

    void SetFont(const QString& family, double pointSize) override;
    void SetBold(bool bold) override;
    // At least the distance from one line to the next, so the lines counted
    // for a page all fit on it.
    double TextHeight(const QString& text) override;
    // The height of the printable area, which is where the painter draws.
    int PageHeight() override;
    bool PrintLine(const QString& text) override;
    bool NewPage() override;
    bool EndDocument() override;
    void AbortDocument() override;

    // Closes the output file that several documents share (see EndDocument).
    bool Finish();
    // A document was begun: an output file was written.
    bool Begun() const { return m_begun; }

private:
    bool BeginDocument();
    void MeasureLines();
    double TwipsPerDeviceUnit() const;

    QPrinter& m_printer;
    QPainter m_painter;
    QFont m_font;
    double m_ascent = 0.0;     // device units
    double m_lineHeight = 0.0; // device units
    double m_nextLineTop = 0.0;
    bool m_begun = false;
    bool m_sharesFile = false;         // every document goes to one output file
    bool m_continuesOnNewPage = false; // the next document is appended to that file
};

class ReportLines;

// The least margin of a printed page on each side, so no line is lost in the
// part of the sheet a printer cannot reach, and none runs to the sheet's edge.
inline constexpr double kMinPageMarginMillimetres = 15.0;

// How a print on its way stands, read by the window's thread while another
// prints. Pages count all copies.
struct PrintProgress {
    std::atomic<bool> cancel{false};
    std::atomic<qint64> pageCount{0}; // 0 while the pages are counted
    std::atomic<qint64> pagesPrinted{0};
};

enum class PrintOutcome {
    Printed,
    NothingToPrint, // an empty list, or no page of it in the range asked for
    Cancelled,
    Failed,
};

// Prints the result list on a printer set up already (by the print dialog, or
// a PDF file in the tests): its margins are widened to the least margin, its
// copy count is taken over as copies printed one by one, and the printer
// itself is set to one copy; of its page range only the pages asked for are
// printed. The pages are counted first, then printed, each counted in
// `progress`, which also cancels. An output file begun is removed when the
// print fails or is cancelled, so no half report is left behind.
PrintOutcome PrintOnPrinter(QPrinter& printer, const ReportLines& lines, bool briefFormat,
                            const QString& headerDate, PrintProgress& progress);

} // namespace kestrel
