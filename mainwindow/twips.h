#pragma once

#include <QRect>

namespace kestrel {

// The window is designed in twips (1/1440 inch); at 96 dots per inch a pixel
// is 15 twips. Every design value passes through these two helpers.
inline constexpr int kTwipsPerPixel = 15;

int TwipsToPixels(double twips);
inline int PixelsToTwips(int pixels) {
    return pixels * kTwipsPerPixel;
}

// A design rectangle: left, top, width and height in twips.
QRect DesignRect(int left, int top, int width, int height);

} // namespace kestrel
