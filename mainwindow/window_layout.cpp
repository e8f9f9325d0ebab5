#include "window_layout.h"

namespace kestrel {

namespace {

// The logo panel: the 180-pixel bitmap and its 2-pixel sunken border.
constexpr int kLogoSize = 2760;
// The logo stays centred in the strip from here to the right edge...
constexpr int kLogoStripLeft = 5615;
// ...and in the band from the top to this far above the bottom edge.
constexpr int kLogoBandBottomMargin = 1455;

} // namespace

WindowLayout ComputeWindowLayout(int clientWidth, int clientHeight) {
    const int w = clientWidth;
    const int h = clientHeight;
    WindowLayout layout;
    layout.picture1Height = h - 1200;
    layout.filListHeight = h - 2100;
    layout.dirListHeight = h - 2580;
    layout.picture2Height = h - 1320;
    layout.picture2Width = w - 150;
    layout.lstFoundFilesHeight = h - 1770;
    layout.lstFoundFilesWidth = w - 270;
    layout.picture3Left = kLogoStripLeft + (w - kLogoStripLeft - kLogoSize) / 2.0;
    layout.picture3Top = (h - kLogoBandBottomMargin - kLogoSize) / 2.0;
    layout.fraButtonsTop = h - 1120;
    layout.fraOptionsTop = h - 1960 - kSpareOptionRow;
    layout.buttonsTop = h - 870;
    // The seven option boxes, 240 apart from the top one down.
    for (int i = 0; i < 7; ++i)
        layout.checkBoxTops[i] = h - 1710 - kSpareOptionRow + 240 * i;
    return layout;
}

} // namespace kestrel
