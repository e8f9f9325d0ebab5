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

// One copy on its way over the pages. A page break is only sent to the target
// when a line follows it, so a document never ends on an empty page.
class ReportPages {
public:
    ReportPages(PrintTarget& target, const QString& headerDate, double linesPerPage)
        : m_target(target), m_headerDate(headerDate), m_linesPerPage(linesPerPage) {}

    bool PrintLines(const ReportLines& lines, bool briefFormat);

private:
    bool StartPage(bool startsWithDirectory);
    bool TitleStaysAlone(const ReportLines& lines, int title, bool briefFormat) const;
    bool PrintCounted(const QString& text);
    bool PrintBold(const QString& text);
    void BreakPage();
    bool EntryFits(qint64 lineCount, qint64 entryLines) const;
    bool SendsEntryOn(qint64 lineCount, qint64 entryLines, bool hasTitle) const;

    PrintTarget& m_target;
    QString m_headerDate;
    double m_linesPerPage;
    int m_pageNumber = 1;
    qint64 m_lineCount = 0; // lines on the current page, empty ones included
    bool m_breakPending = false;
    bool m_hasTitle = false;
    QString m_title; // the directory of the last directory line
};

bool ReportPages::PrintLines(const ReportLines& lines, bool briefFormat) {
    int index = 0;
    while (index < lines.LineCount()) {
        const LineKind kind = lines.Kind(index);
        if (m_lineCount == 0 && !StartPage(kind == LineKind::Directory))
            return false;

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
bool ReportPages::EntryFits(qint64 lineCount, qint64 entryLines) const {
    return static_cast<double>(lineCount + entryLines + 1) < m_linesPerPage;
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
    if (static_cast<double>(afterTitle) >= m_linesPerPage)
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

double LinesPerPage(int pageHeightTwips, double lineHeightTwips) {
    if (!(lineHeightTwips > 0.0))
        return kMinLinesPerPage;
    return std::max(kMinLinesPerPage, pageHeightTwips / lineHeightTwips - kMarginLines);
}

bool PrintReportCopy(const ReportLines& lines, bool briefFormat, const QString& headerDate,
                     double linesPerPage, PrintTarget& target) {
    ReportPages pages(target, headerDate, linesPerPage);
    if (!pages.PrintLines(lines, briefFormat)) {
        target.AbortDocument();
        return false;
    }
    return target.EndDocument();
}

bool PrintReport(const ReportLines& lines, bool briefFormat, const QString& headerDate, int copies,
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
