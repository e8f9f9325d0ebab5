#include "report_pages.h"

#include <algorithm>
#include <cmath>

namespace kestrel {
namespace {

// The report is printed in Courier at 10 points, the typewriter face every
// printer driver offers; its fixed pitch keeps the report's columns.
constexpr double kReportFontPoints = 10.0;
// The line height is measured on a text with an ascender and a descender.
constexpr char16_t kLineHeightSample[] = u"yl";
// Even the smallest page takes one line, so every line is printed somewhere.
constexpr int kMinLinesPerPage = 1;
// Far more lines than any sheet holds; a font measured absurdly small (a
// broken driver) cannot take the count out of an int.
constexpr int kMaxLinesPerPage = 1 << 24;
// The header line and the two empty lines under it.
constexpr qint64 kPageStartLines = 3;

// "[/data/]" becomes "/data/".
QString DirectoryTitle(const QString& line) {
    return line.size() < 2 ? QString() : line.mid(1, line.size() - 2);
}

// The lines of the file entry that begins at `first`: its own and those under it.
qint64 EntryLineCount(const ReportLines& lines, int first) {
    int next = first + 1;
    while (next < lines.LineCount() && lines.Kind(next) == LineKind::InReport)
        ++next;
    return next - first;
}

// Takes the lines of a copy and prints none: what the pages are counted with.
// A line fails once the count is cancelled.
class PageCounter final : public PrintTarget {
public:
    explicit PageCounter(const std::atomic<bool>& cancel) : m_cancel(cancel) {}
    void SetFont(const QString&, double) override {}
    void SetBold(bool) override {}
    double TextHeight(const QString&) override { return 0.0; }
    int PageHeight() override { return 0; }
    bool PrintLine(const QString&) override { return !m_cancel.load(std::memory_order_relaxed); }
    bool NewPage() override { return true; }
    bool EndDocument() override { return true; }
    void AbortDocument() override {}

private:
    const std::atomic<bool>& m_cancel;
};

// One copy on its way over the pages. A page break is only sent to the target
// when a line follows it, so a document never ends on an empty page. The
// pages outside the range asked for are laid out the same, but not sent.
class ReportPages {
public:
    ReportPages(PrintTarget& target, const QString& headerDate, int linesPerPage,
                const QPageRanges& pages)
        : m_target(target), m_headerDate(headerDate), m_linesPerPage(linesPerPage), m_pages(pages) {
    }

    bool PrintLines(const ReportLines& lines, bool briefFormat);
    int PagesSent() const { return m_pagesSent; }

private:
    bool PastLastPage() const;
    bool StartPage(bool startsWithDirectory);
    bool TitleStaysAlone(const ReportLines& lines, int title, bool briefFormat) const;
    bool PrintCounted(const QString& text);
    bool PrintBold(const QString& text);
    void BreakPage();
    bool EntryFits(qint64 lineCount, qint64 entryLines) const;
    bool SendsEntryOn(qint64 lineCount, qint64 entryLines, bool hasTitle) const;

    PrintTarget& m_target;
    QString m_headerDate;
    qint64 m_linesPerPage;
    QPageRanges m_pages; // empty: all
    int m_pageNumber = 1;
    int m_pagesSent = 0;
    bool m_pageSent = false; // a line of the current page went to the target
    qint64 m_lineCount = 0;  // lines on the current page, empty ones included
    bool m_breakPending = false;
    bool m_hasTitle = false;
    QString m_title; // the directory of the last directory line
};

bool ReportPages::PrintLines(const ReportLines& lines, bool briefFormat) {
    int index = 0;
    while (index < lines.LineCount()) {
        const LineKind kind = lines.Kind(index);
        if (m_lineCount == 0) {
            if (PastLastPage())
                return true;
            if (!StartPage(kind == LineKind::Directory))
                return false;
        }

        bool printed = false;
        if (kind == LineKind::Directory) {
            if (TitleStaysAlone(lines, index, briefFormat) && m_lineCount > kPageStartLines) {
                BreakPage();
                continue; // the title again, on the next page
            }
            m_title = DirectoryTitle(lines.LineText(index));
            m_hasTitle = true;
            printed = PrintBold(m_title);
        } else if (kind == LineKind::InReport || briefFormat) {
            printed = PrintCounted(lines.LineText(index));
        } else {
            if (SendsEntryOn(m_lineCount, EntryLineCount(lines, index), m_hasTitle)) {
                BreakPage();
                continue; // the same entry again, on the next page
            }
            printed = PrintCounted(QString()) && PrintCounted(lines.LineText(index));
        }
        if (!printed)
            return false;

        if (m_lineCount >= m_linesPerPage)
            BreakPage();
        ++index;
    }
    return true;
}

// The page a pending break starts lies beyond the last page asked for.
bool ReportPages::PastLastPage() const {
    return m_breakPending && !m_pages.isEmpty() && m_pageNumber >= m_pages.lastPage();
}

bool ReportPages::StartPage(bool startsWithDirectory) {
    if (m_breakPending) {
        ++m_pageNumber;
        m_breakPending = false;
        m_pageSent = false;
    }
    if (!PrintCounted(ReportPageHeader(m_headerDate, m_pageNumber)) || !PrintCounted(QString()) ||
        !PrintCounted(QString()))
        return false;
    if (startsWithDirectory || !m_hasTitle)
        return true;
    return PrintBold(m_title + QStringLiteral(" (Continued)"));
}

// A line of a page outside the range is counted, not printed. The first line
// of a page sent after another begins a new page of the document.
bool ReportPages::PrintCounted(const QString& text) {
    ++m_lineCount;
    if (!m_pages.isEmpty() && !m_pages.contains(m_pageNumber))
        return true;
    if (!m_pageSent) {
        if (m_pagesSent > 0 && !m_target.NewPage())
            return false;
        m_pageSent = true;
        ++m_pagesSent;
    }
    return m_target.PrintLine(text);
}

bool ReportPages::PrintBold(const QString& text) {
    m_target.SetBold(true);
    const bool printed = PrintCounted(text);
    m_target.SetBold(false);
    return printed;
}

void ReportPages::BreakPage() {
    m_lineCount = 0;
    m_breakPending = true;
}

// An entry takes an empty line above it; the page must keep one line beyond it.
bool ReportPages::EntryFits(qint64 lineCount, qint64 entryLines) const {
    return lineCount + entryLines + 1 < m_linesPerPage;
}

// An entry that does not fit goes on to the next page, unless that would give
// it no more room than this one: a fresh page holds its header, two empty
// lines and, once there is a title, the continued title.
bool ReportPages::SendsEntryOn(qint64 lineCount, qint64 entryLines, bool hasTitle) const {
    const qint64 freshPageLines = kPageStartLines + (hasTitle ? 1 : 0);
    return !EntryFits(lineCount, entryLines) && lineCount > freshPageLines;
}

// A title printed here would end the page, or its first entry would go on to
// the next page without it.
bool ReportPages::TitleStaysAlone(const ReportLines& lines, int title, bool briefFormat) const {
    const qint64 afterTitle = m_lineCount + 1;
    if (afterTitle >= m_linesPerPage)
        return true;
    const int first = title + 1;
    if (briefFormat || first >= lines.LineCount() || lines.Kind(first) != LineKind::ReportStart)
        return false;
    return SendsEntryOn(afterTitle, EntryLineCount(lines, first), true);
}

} // namespace

QString ReportPageHeader(const QString& headerDate, int pageNumber) {
    return QStringLiteral("Kestrel report  ") + headerDate + QStringLiteral("  Page ") +
           QString::number(pageNumber);
}

int LinesPerPage(int pageHeightTwips, double lineHeightTwips) {
    if (!(lineHeightTwips > 0.0))
        return kMinLinesPerPage;
    const double lines = std::floor(pageHeightTwips / lineHeightTwips);
    return static_cast<int>(std::clamp(lines, double{kMinLinesPerPage}, double{kMaxLinesPerPage}));
}

int PrepareReportFont(PrintTarget& target) {
    target.SetFont(QStringLiteral("Courier"), kReportFontPoints);
    target.SetBold(false);
    return LinesPerPage(target.PageHeight(),
                        target.TextHeight(QString::fromUtf16(kLineHeightSample)));
}

bool PrintReportCopy(const ReportLines& lines, bool briefFormat, const QString& headerDate,
                     int linesPerPage, PrintTarget& target, const QPageRanges& pages) {
    ReportPages copy(target, headerDate, linesPerPage, pages);
    if (!copy.PrintLines(lines, briefFormat)) {
        target.AbortDocument();
        return false;
    }
    return target.EndDocument();
}

int CountReportPages(const ReportLines& lines, bool briefFormat, int linesPerPage,
                     const QPageRanges& pages, const std::atomic<bool>& cancel) {
    PageCounter counter(cancel);
    ReportPages copy(counter, QString(), linesPerPage, pages);
    return copy.PrintLines(lines, briefFormat) ? copy.PagesSent() : -1;
}

bool PrintReport(const ReportLines& lines, bool briefFormat, const QString& headerDate, int copies,
                 PrintTarget& target, const QPageRanges& pages) {
    const int linesPerPage = PrepareReportFont(target);
    for (int copy = 1; copy <= copies; ++copy) {
        if (!PrintReportCopy(lines, briefFormat, headerDate, linesPerPage, target, pages))
            return false;
    }
    return true;
}

} // namespace kestrel
