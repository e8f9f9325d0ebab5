#pragma once

#include <cstdint>
#include <string>

#include "report_sink.h"

namespace kestrel {

// The report's locale in the window: the system's group separator for sizes,
// and file times in its short date with the time of day to the second, the
// date alone at exactly midnight.
ReportLocale SystemReportLocale();

} // namespace kestrel
