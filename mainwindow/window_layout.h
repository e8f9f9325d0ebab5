#pragma once

namespace kestrel {

// The smallest client area the window accepts, and its design size: the outer
// size 9405 by 6435 twips less a 4-pixel border on each side and a 19-pixel
// caption bar.
inline constexpr int kDesignClientWidth = 9285;
inline constexpr int kDesignClientHeight = 6030;
inline constexpr int kDesignFrameWidth = 9405 - kDesignClientWidth;
inline constexpr int kDesignFrameHeight = 6435 - kDesignClientHeight;

// The options frame holds a row more than its six boxes, free under the last
// one for one more option: the frame reaches this much higher than designed,
// and its boxes sit this much higher.
inline constexpr int kSpareOptionRow = 240;

// Where the controls that follow the window's size go, in twips, for a client
// area of W by H twips. Everything else keeps its design rectangle.
struct WindowLayout {
    int picture1Height = 0;
    int filListHeight = 0;
    int dirListHeight = 0;
    int picture2Height = 0;
    int picture2Width = 0;
    int lstFoundFilesHeight = 0;
    int lstFoundFilesWidth = 0;
    double picture3Left = 0; // the logo may sit on a half twip
    double picture3Top = 0;
    int fraButtonsTop = 0;
    int fraOptionsTop = 0;
    int buttonsTop = 0;       // cmdExit, cmdSearch and cmdPrint
    int checkBoxTops[7] = {}; // chkSubdirs, chkBrief, chkVersion, chkImport, chkCompany,
                              // chkDebug, and chkArchives in the free row
};

WindowLayout ComputeWindowLayout(int clientWidth, int clientHeight);

} // namespace kestrel
