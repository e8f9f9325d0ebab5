#include "report_pages.h"

#include <algorithm>

namespace kestrel {
namespace {

// The report is printed in Courier at 10 points, the typewriter face every
// printer driver offers; its fixed pitch keeps the report's columns.
constexpr double kReportFontPoints = 10.0;
// The line height is measured on a text with an ascender and a descender.
constexpr char16_t kLineHeightSample[] = u"yl";
// Lines of a page's height left free as its top and bottom margin.
constexpr double kMarginLines = 6.0;
// Even the smallest page takes one line, so every line is printed somewhere.
constexpr double kMinLinesPerPage = 1.0;
// The header line and the two empty lines under it.
constexpr qint64 kPageStartLines = 3;

bool IsDirectoryLine(const QString& line) {
    return line.startsWith(u'[');
}

// A labelled report line, or the continuation of one: it belongs to the entry above it.
bool IsContinuationLine(const QString& line) {
    return line.startsWith(u' ');
}

// "[/data/]" becomes "/data/".
QString DirectoryTitle(const QString& line) {
    return line.size() < 2 ? QString() : line.mid(1, line.size() - 2);
}

// The lines of the file entry that begins at `first`: its own and those under it.
qint64 EntryLineCount(const QStringList& lines, qsizetype first) {
    qsizetype next = first + 1;
    while (next < lines.size() && IsContinuationLine(lines[next]))
        ++next;
    return next - first;
}

// One copy on its way over the pages. A page break is only sent to the target
// when a line follows it, so a document never ends on an empty page.
class ReportPages {
public:
    ReportPages(PrintTarget& target, const QString& headerDate, double linesPerPage)
        : m_target(target), m_headerDate(headerDate), m_linesPerPage(linesPerPage) {}

    bool PrintLines(const QStringList& lines, bool briefFormat);

private:
    bool StartPage(bool startsWithDirectory);
    bool PrintCounted(const QString& text);
    bool PrintBold(const QString& text);
    void BreakPage();
    bool EntryFits(qint64 entryLines) const;
    bool FreshPageHasMoreRoom() const;

    PrintTarget& m_target;
    QString m_headerDate;
    double m_linesPerPage;
    int m_pageNumber = 1;
    qint64 m_lineCount = 0; // lines on the current page, empty ones included
    bool m_breakPending = false;
    bool m_hasTitle = false;
    QString m_title; // the directory of the last directory line
};

bool ReportPages::PrintLines(const QStringList& lines, bool briefFormat) {
    qsizetype index = 0;
    while (index < lines.size()) {
        const QString& line = lines[index];
        if (m_lineCount == 0 && !StartPage(IsDirectoryLine(line)))
            return false;

        bool printed = false;
        if (IsDirectoryLine(line)) {
            m_title = DirectoryTitle(line);
            m_hasTitle = true;
            printed = PrintBold(m_title);
        } else if (IsContinuationLine(line) || briefFormat) {
            printed = PrintCounted(line);
        } else {
            if (!EntryFits(EntryLineCount(lines, index)) && FreshPageHasMoreRoom()) {
                BreakPage();
                continue; // the same entry again, on the next page
            }
            printed = PrintCounted(QString()) && PrintCounted(line);
        }
        if (!printed)
            return false;

        if (static_cast<double>(m_lineCount) >= m_linesPerPage)
            BreakPage();
        ++index;
    }
    return true;
}

bool ReportPages::StartPage(bool startsWithDirectory) {
    if (m_breakPending) {
        if (!m_target.NewPage())
            return false;
        ++m_pageNumber;
        m_breakPending = false;
    }
    if (!PrintCounted(ReportPageHeader(m_headerDate, m_pageNumber)) || !PrintCounted(QString()) ||
        !PrintCounted(QString()))
        return false;
    if (startsWithDirectory || !m_hasTitle)
        return true;
    return PrintBold(m_title + QStringLiteral(" (Continued)"));
}

bool ReportPages::PrintCounted(const QString& text) {
    if (!m_target.PrintLine(text))
        return false;
    ++m_lineCount;
    return true;
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
bool ReportPages::EntryFits(qint64 entryLines) const {
    return static_cast<double>(m_lineCount + entryLines + 1) < m_linesPerPage;
}

// An entry too long for any page is not sent on from a page that offers it as
// much room as the next would: it starts here and runs on over the pages.
bool ReportPages::FreshPageHasMoreRoom() const {
    const qint64 freshPageLines = kPageStartLines + (m_hasTitle ? 1 : 0);
    return m_lineCount > freshPageLines;
}

} // namespace

QString ReportPageHeader(const QString& headerDate, int pageNumber) {
    return QStringLiteral("Kestrel report  ") + headerDate + QStringLiteral("  Page ") +
           QString::number(pageNumber);
}

double LinesPerPage(int pageHeightTwips, double lineHeightTwips) {
    if (!(lineHeightTwips > 0.0))
        return kMinLinesPerPage;
    return std::max(kMinLinesPerPage, pageHeightTwips / lineHeightTwips - kMarginLines);
}

bool PrintReportCopy(const QStringList& lines, bool briefFormat, const QString& headerDate,
                     double linesPerPage, PrintTarget& target) {
    ReportPages pages(target, headerDate, linesPerPage);
    if (!pages.PrintLines(lines, briefFormat)) {
        target.AbortDocument();
        return false;
    }
    return target.EndDocument();
}

bool PrintReport(const QStringList& lines, bool briefFormat, const QString& headerDate, int copies,
                 PrintTarget& target) {
    target.SetFont(QStringLiteral("Courier"), kReportFontPoints);
    target.SetBold(false);
    const double lineHeight = target.TextHeight(QString::fromUtf16(kLineHeightSample));
    const double linesPerPage = LinesPerPage(target.PageHeight(), lineHeight);
    for (int copy = 1; copy <= copies; ++copy) {
        if (!PrintReportCopy(lines, briefFormat, headerDate, linesPerPage, target))
            return false;
    }
    return true;
}

} // namespace kestrel
