#pragma once

#include <QString>

#include "print_target.h"
#include "report_lines.h"

namespace kestrel {

// "Kestrel report  <date>  Page <n>", the first line of every page.
QString ReportPageHeader(const QString& headerDate, int pageNumber);

// The page height over the height of "yl", less six lines of margin; never
// below 1. Kept fractional: a page ends once its line count reaches it.
double LinesPerPage(int pageHeightTwips, double lineHeightTwips);

// Prints one copy of the result list as one document. The lines are told apart
// by their kinds: a directory line prints as a bold title, a line of a report
// belongs to the entry above it. In full format each entry is kept on one page
// when it fits on one, and a title is never a page's last line. On a failure
// of the target the document is aborted and false returned.
bool PrintReportCopy(const ReportLines& lines, bool briefFormat, const QString& headerDate,
                     double linesPerPage, PrintTarget& target);

// Sets the report font, measures the page and prints `copies` copies, each a
// document of its own numbered from page 1. Stops at the first failure.
bool PrintReport(const ReportLines& lines, bool briefFormat, const QString& headerDate, int copies,
                 PrintTarget& target);

} // namespace kestrel
