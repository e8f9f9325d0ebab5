#include "print_stand_in.h"

namespace kestrel {

bool PrintResultLinesStandIn(QWidget* parent, const QStringList& lines, bool briefFormat) {
    (void)parent;
    (void)lines;
    (void)briefFormat;
    return false;
}

} // namespace kestrel
