// kestrel: the window of Kestrel, opened in the current directory, or in the
// directory named on the command line (a file opens its directory with the
// file selected).

#include <cstdio>
#include <cstring>

#include <QApplication>

#include "main_window.h"

namespace {

constexpr char kUsage[] =
    "Usage: kestrel [PATH]\n"
    "Reports what NetWare, DOS, Windows and OS/2 program files say about themselves.\n"
    "\n"
    "  PATH           the directory to open, or a file to open its directory with\n"
    "                 the file selected (default: the current directory)\n"
    "  -h, --help     show this help and exit\n"
    "      --version  show the version and exit\n"
    "\n"
    "Qt's own options (-platform, -style, ...) are taken as well.\n";

} // namespace

int main(int argc, char** argv) {
    // Read before the window system is reached, so they work without a display.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-h") == 0 || std::strcmp(argv[i], "--help") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::fputs("kestrel 1.0\n", stdout);
            return 0;
        }
    }

    // QApplication takes its own options out of the arguments.
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Kestrel"));
    QApplication::setApplicationName(QStringLiteral("Kestrel"));
    // Ties the window to its desktop entry (the Wayland app id, and the
    // desktop file hint on X11), so a shell shows it under its launcher.
    QGuiApplication::setDesktopFileName(QStringLiteral("io.github.kestrel.Kestrel"));
    const QStringList paths = QApplication::arguments().mid(1);
    if (paths.size() > 1 || (!paths.isEmpty() && paths.first().startsWith(QLatin1Char('-')))) {
        std::fprintf(stderr, "kestrel: unexpected %s\n%s", qPrintable(paths.last()), kUsage);
        return 2;
    }

    kestrel::MainWindow window;
    QApplication::setWindowIcon(window.windowIcon());
    // A path that cannot be opened is said; the window opens all the same, in
    // the current directory.
    if (!paths.isEmpty() && !window.OpenPath(paths.first()))
        std::fprintf(stderr, "kestrel: %s: no directory or file that can be opened\n",
                     qPrintable(paths.first()));
    window.show();
    return QApplication::exec();
}
