#pragma once

#include <cstdint>
#include <string>

#include "report_sink.h"

class QLocale;

namespace kestrel {

// The report's locale in the window: the system's group separator for sizes,
// and file times in its short date with the time of day to the second, the
// date alone at exactly midnight.
ReportLocale SystemReportLocale();

// The same for any locale. The year always has four digits, in the place the
// locale gives it; the text holds no marks of writing direction, so a line of
// the report keeps its columns in order.
ReportLocale ReportLocaleFor(const QLocale& locale);

} // namespace kestrel
