#include "visible_name.h"

namespace kestrel {

namespace {

constexpr char16_t kTabArrow = 0x2192;
// The Control Pictures block: U+2400 to U+241F for the codes 0 to 31, U+2421
// for DEL.
constexpr char16_t kControlPictures = 0x2400;
constexpr char16_t kDeletePicture = 0x2421;

} // namespace

QString VisibleName(const std::string& name) {
    QString text = QString::fromStdString(name);
    for (QChar& c : text) {
        if (c == QLatin1Char('\t'))
            c = QChar(kTabArrow);
        else if (c.unicode() < 0x20)
            c = QChar(static_cast<char16_t>(kControlPictures + c.unicode()));
        else if (c.unicode() == 0x7F)
            c = QChar(kDeletePicture);
    }
    return text;
}

} // namespace kestrel
