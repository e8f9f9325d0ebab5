#include "window_settings.h"

#include <algorithm>

#include <QSettings>

#include "text.h"
#include "twips.h"

namespace kestrel {

namespace {

// A position or size in twips never goes beyond what Qt accepts for a window
// (QWIDGETSIZE_MAX pixels), so a doctored value cannot overflow on the way
// to pixels.
constexpr double kMaxGeometryTwips = 16777215.0 * 15;

QString RecentKey(int index) {
    return QString::fromLatin1(kRecentSection) + QLatin1Char('/') + QString::number(index);
}

int ReadGeometryValue(const QSettings& settings, const char* key, int fallback) {
    const QString text =
        settings.value(QString::fromLatin1(key), QString::number(fallback)).toString();
    return static_cast<int>(LeadingNumber(text));
}

bool IsPreset(const QString& lowerSpec) {
    return lowerSpec == kNetWarePreset || lowerSpec == kDosWinPreset ||
           lowerSpec == kAllFilesPreset;
}

// A specification of nothing but separators and spaces names no pattern and
// searches every file, as "*.*" does.
bool HasPattern(const QString& spec) {
    return std::any_of(spec.begin(), spec.end(),
                       [](QChar c) { return c != QLatin1Char(' ') && c != QLatin1Char(';'); });
}

} // namespace

const QString kNetWarePreset =
    QStringLiteral("*.nlm;*.lan;*.dsk;*.nam;*.ham;*.cdm;*.psm;*.msl;*.mpm;*.xlm");
const QString kDosWinPreset =
    QStringLiteral("*.com;*.exe;*.dll;*.vxd;*.ocx;*.sys;*.drv;*.tlb;"
                   "*.386;*.tsk;*.tsp;*.fon;*.scr;*.olb;*.mpd;*.pdr;*.acm");
const QString kAllFilesPreset = QStringLiteral("*.*");

double LeadingNumber(const QString& text) {
    qsizetype i = 0;
    while (i < text.size() && (text[i] == QLatin1Char(' ') || text[i] == QLatin1Char('\t')))
        ++i;
    double sign = 1;
    if (i < text.size() && (text[i] == QLatin1Char('-') || text[i] == QLatin1Char('+'))) {
        sign = text[i] == QLatin1Char('-') ? -1 : 1;
        ++i;
    }
    double value = 0;
    for (; i < text.size() && text[i].isDigit() && text[i].unicode() < 128; ++i)
        value = std::min(value * 10 + (text[i].unicode() - '0'), kMaxGeometryTwips);
    if (i < text.size() && text[i] == QLatin1Char('.')) {
        double scale = 0.1;
        for (++i; i < text.size() && text[i].isDigit() && text[i].unicode() < 128; ++i) {
            value += (text[i].unicode() - '0') * scale;
            scale /= 10;
        }
    }
    return std::clamp(sign * value, -kMaxGeometryTwips, kMaxGeometryTwips);
}

QString AsciiLowerCase(const QString& text) {
    QString lower = text;
    for (QChar& c : lower) {
        if (c.unicode() < 128)
            c = QLatin1Char(AsciiLowerChar(static_cast<char>(c.unicode())));
    }
    return lower;
}

bool EnterRecentSpec(QStringList& recent, const QString& spec) {
    const QString lower = AsciiLowerCase(spec);
    if (IsPreset(lower) || !HasPattern(lower))
        return false;
    for (const QString& entry : recent) {
        if (AsciiLowerCase(entry) == lower)
            return false;
    }
    recent.prepend(lower);
    while (recent.size() > kRecentCount)
        recent.removeLast();
    return true;
}

StoredGeometry ReadGeometry(const QSettings& settings) {
    StoredGeometry geometry;
    geometry.top = ReadGeometryValue(settings, kKeyTop, kDefaultTop);
    geometry.left = ReadGeometryValue(settings, kKeyLeft, kDefaultLeft);
    geometry.height = ReadGeometryValue(settings, kKeyHeight, kDefaultHeight);
    geometry.width = ReadGeometryValue(settings, kKeyWidth, kDefaultWidth);
    geometry.maximised =
        settings.value(QString::fromLatin1(kKeyMaximized)).toString() == QLatin1String("1");
    return geometry;
}

void WriteGeometry(QSettings& settings, const StoredGeometry& geometry) {
    settings.setValue(QString::fromLatin1(kKeyTop), QString::number(geometry.top));
    settings.setValue(QString::fromLatin1(kKeyLeft), QString::number(geometry.left));
    settings.setValue(QString::fromLatin1(kKeyHeight), QString::number(geometry.height));
    settings.setValue(QString::fromLatin1(kKeyWidth), QString::number(geometry.width));
    settings.setValue(QString::fromLatin1(kKeyMaximized),
                      geometry.maximised ? QStringLiteral("1") : QStringLiteral("0"));
}

QRect PlaceOnScreens(QRect window, const QList<QRect>& screens, QSize minimum) {
    if (screens.isEmpty())
        return window;
    const QRect* best = nullptr;
    qint64 bestArea = 0;
    for (const QRect& screen : screens) {
        if (screen.contains(window))
            return window;
        const QRect common = screen.intersected(window);
        const qint64 area = qint64{common.width()} * common.height();
        if (area > bestArea) {
            bestArea = area;
            best = &screen;
        }
    }
    if (best == nullptr) {
        best = &screens.first();
        window.moveTopLeft(best->topLeft() +
                           QPoint(TwipsToPixels(kDefaultLeft), TwipsToPixels(kDefaultTop)));
    }
    // Larger than the screen: as large as the screen, unless that is below the
    // window's minimum; then its top left corner on it.
    window.setWidth(std::max(std::min(window.width(), best->width()), minimum.width()));
    window.setHeight(std::max(std::min(window.height(), best->height()), minimum.height()));
    window.moveLeft(std::clamp(window.left(), best->left(),
                               std::max(best->left(), best->right() + 1 - window.width())));
    window.moveTop(std::clamp(window.top(), best->top(),
                              std::max(best->top(), best->bottom() + 1 - window.height())));
    return window;
}

QStringList ReadRecentList(const QSettings& settings) {
    QStringList recent;
    for (int i = 0; i < kRecentCount; ++i) {
        const QString entry = settings.value(RecentKey(i), QString()).toString();
        if (!entry.isEmpty())
            recent.append(entry);
    }
    return recent;
}

void WriteRecentList(QSettings& settings, const QStringList& recent) {
    for (int i = 0; i < kRecentCount; ++i)
        settings.setValue(RecentKey(i), i < recent.size() ? recent[i] : QString());
}

} // namespace kestrel
