#pragma once

#include <QList>
#include <QRect>
#include <QString>
#include <QStringList>

class QSettings;

namespace kestrel {

// The per-user settings store: INI format, user scope, organisation and
// application "Kestrel". Each key is named once here and used by both the
// read at load and the write at unload.
inline constexpr char kSettingsName[] = "Kestrel";
inline constexpr char kKeyTop[] = "Startup/Top";
inline constexpr char kKeyLeft[] = "Startup/Left";
inline constexpr char kKeyHeight[] = "Startup/Height";
inline constexpr char kKeyWidth[] = "Startup/Width";
inline constexpr char kKeyMaximized[] = "Startup/Maximized"; // "1" when it was
inline constexpr char kRecentSection[] = "Recent";           // keys "0" to "9"

// Defaults in twips when no geometry is stored: the window's outer size at
// its design, 960 twips from the screen's top left corner.
inline constexpr int kDefaultTop = 960;
inline constexpr int kDefaultLeft = 960;
inline constexpr int kDefaultHeight = 6435;
inline constexpr int kDefaultWidth = 9405;

// The Recent list holds this many search specifications, newest first.
inline constexpr int kRecentCount = 10;

// The three pattern presets of the criteria panel. A search never records
// them in the Recent list.
extern const QString kNetWarePreset;
extern const QString kDosWinPreset;
extern const QString kAllFilesPreset;

// The numeric value of a stored text: its leading decimal number (spaces,
// a sign, digits and a fraction), 0 when it begins with none. Values are
// clamped to what a window position or size in twips can hold.
double LeadingNumber(const QString& text);

// Lower case of the ASCII letters only, as every name test of Kestrel folds.
QString AsciiLowerCase(const QString& text);

// Enters a search specification into the Recent list: lower case, never a
// preset or a specification without a pattern, never one already there (its
// place is kept), at most ten, newest first. True when the list changed.
bool EnterRecentSpec(QStringList& recent, const QString& spec);

// The window's geometry in twips: the outer rectangle (frame included) of the
// window in its normal state, and whether it was maximised.
struct StoredGeometry {
    int top = kDefaultTop;
    int left = kDefaultLeft;
    int height = kDefaultHeight;
    int width = kDefaultWidth;
    bool maximised = false;
};

StoredGeometry ReadGeometry(const QSettings& settings);
// A window rectangle that lies wholly on no screen is made to fit the screen
// that holds most of it: cut to its size (never below `minimum`) and moved onto
// it as far as needed. One on no screen at all goes to the default place on the
// first. Screens are given by their available areas.
QRect PlaceOnScreens(QRect window, const QList<QRect>& screens, QSize minimum = QSize());
void WriteGeometry(QSettings& settings, const StoredGeometry& geometry);

// Values "0" to "9" of section "Recent": the non-empty ones in key order, so
// a gap left by hand closes up.
QStringList ReadRecentList(const QSettings& settings);
// All ten keys are written, "" past the end of the list.
void WriteRecentList(QSettings& settings, const QStringList& recent);

} // namespace kestrel
