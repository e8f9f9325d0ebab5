#pragma once

#include <atomic>

#include <QPageRanges>
#include <QString>

#include "print_target.h"
#include "report_lines.h"

namespace kestrel {

// "Kestrel report  <date>  Page <n>", the first line of every page.
QString ReportPageHeader(const QString& headerDate, int pageNumber);

// The lines that fit on a page: the height of the area a page is printed in
// over the height of "yl", in whole lines; never below 1. The page's margins
// lie outside that area, so the lines run down to the bottom margin.
int LinesPerPage(int pageHeightTwips, double lineHeightTwips);

// Sets the report font on the target and measures its lines per page.
int PrepareReportFont(PrintTarget& target);

// Prints one copy of the result list as one document. The lines are told apart
// by their kinds: a directory line prints as a bold title, a line of a report
// belongs to the entry above it. In full format each entry is kept on one page
// when it fits on one (one longer than a page starts a page of its own and
// goes on over the next), and a title is never a page's last line. Only the
// pages in `pages` are printed, all when it is empty; the page numbers stay
// those of the whole copy. On a failure of the target the document is aborted
// and false returned.
bool PrintReportCopy(const ReportLines& lines, bool briefFormat, const QString& headerDate,
                     int linesPerPage, PrintTarget& target, const QPageRanges& pages = {});

// The pages one copy prints, counted without printing; -1 when `cancel` is
// set on the way.
int CountReportPages(const ReportLines& lines, bool briefFormat, int linesPerPage,
                     const QPageRanges& pages, const std::atomic<bool>& cancel);

// Sets the report font, measures the page and prints `copies` copies, each a
// document of its own numbered from page 1. Stops at the first failure.
bool PrintReport(const ReportLines& lines, bool briefFormat, const QString& headerDate, int copies,
                 PrintTarget& target, const QPageRanges& pages = {});

} // namespace kestrel
