#include "main_window.h"

#include <algorithm>
#include <cstdlib>

#include <QAction>
#include <QCloseEvent>
#include <QComboBox>
#include <QCompleter>
#include <QDir>
#include <QFileInfo>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSettings>
#include <QShortcut>
#include <QTimer>

#include "caption_label.h"
#include "details_window.h"
#include "directory_list.h"
#include "drive_list.h"
#include "file_list.h"
#include "find_bar.h"
#include "folder_watch.h"
#include "option_check_box.h"
#include "path_field.h"
#include "result_list_accessible.h"
#include "result_list_model.h"
#include "result_list_view.h"
#include "search_worker.h"
#include "twips.h"
#include "window_layout.h"

static void InitResources() {
    Q_INIT_RESOURCE(kestrel);
}

namespace kestrel {

namespace {

// For this long after a search ends, a click on Exit is ignored: it was the
// Cancel button a moment ago, and a click meant for Cancel must never quit.
constexpr qint64 kExitGuardMs = 700;

// The grey of the two main buttons: RGB 192, 192, 192.
const QColor kMainButtonColour(192, 192, 192);

// The design fonts. Where the system lacks the family, the nearest one of the
// same kind stands in; the result list is always fixed-pitch.
QFont DesignFont(const QStringList& families, qreal pointSize, bool bold, QFont::StyleHint hint) {
    QFont font;
    font.setFamilies(families);
    font.setStyleHint(hint);
    font.setPointSizeF(pointSize);
    font.setBold(bold);
    return font;
}

QFont WindowFont() {
    return DesignFont({QStringLiteral("MS Sans Serif"), QStringLiteral("Microsoft Sans Serif"),
                       QStringLiteral("Liberation Sans"), QStringLiteral("Arial"),
                       QStringLiteral("DejaVu Sans")},
                      8.25, true, QFont::SansSerif);
}

QFont FixedPitch(QFont font) {
    font.setFixedPitch(true);
    if (QFontInfo(font).fixedPitch())
        return font;
    QFont fallback = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    fallback.setPointSizeF(font.pointSizeF());
    fallback.setBold(font.bold());
    return fallback;
}

QFont TerminalFont() {
    return FixedPitch(DesignFont({QStringLiteral("Terminal"), QStringLiteral("Fixedsys"),
                                  QStringLiteral("DejaVu Sans Mono")},
                                 9, true, QFont::TypeWriter));
}

QFont ResultListFont() {
    return FixedPitch(DesignFont({QStringLiteral("Courier New"), QStringLiteral("Liberation Mono"),
                                  QStringLiteral("Courier"), QStringLiteral("DejaVu Sans Mono")},
                                 8.25, false, QFont::TypeWriter));
}

// A control of the design: its name as objectName, its design rectangle.
template <typename Control>
Control* Design(Control* control, const char* name, int left, int top, int width, int height) {
    control->setObjectName(QString::fromLatin1(name));
    control->setGeometry(DesignRect(left, top, width, height));
    return control;
}

void SetTop(QWidget* control, double top) {
    control->move(control->x(), TwipsToPixels(top));
}

void FillWithParentBackground(QWidget* control) {
    control->setAutoFillBackground(true);
    control->setBackgroundRole(QPalette::Window);
}

QList<QRect> AvailableScreenAreas() {
    QList<QRect> areas;
    for (const QScreen* screen : QGuiApplication::screens())
        areas.append(screen->availableGeometry());
    return areas;
}

// Within a pixel: the rounding of a scale factor that is not whole, which
// moves a window that was never moved.
bool SameWithinAPixel(const QRect& a, const QRect& b) {
    return std::abs(a.left() - b.left()) <= 1 && std::abs(a.top() - b.top()) <= 1 &&
           std::abs(a.width() - b.width()) <= 1 && std::abs(a.height() - b.height()) <= 1;
}

// The frame the window is designed with; the real one is known once shown.
QSize DesignFrameSize() {
    return QSize(TwipsToPixels(kDesignFrameWidth), TwipsToPixels(kDesignFrameHeight));
}

// The local files and folders of a drop, in the order given.
QStringList LocalPaths(const QMimeData* data) {
    QStringList paths;
    for (const QUrl& url : data->urls()) {
        if (url.isLocalFile())
            paths.append(url.toLocalFile());
    }
    return paths;
}

} // namespace

MainWindow::MainWindow(QWidget* parent) : QWidget(parent) {
    InitResources();
    m_results = new ResultListModel(this);
    m_worker = new SearchWorker(this);
    m_takeProgress = new QTimer(this);
    m_takeProgress->setInterval(SearchWorker::kTakeIntervalMs);
    m_print = [this](QWidget* dialogParent, const ReportLines& lines, bool briefFormat) {
        return m_printer.Print(dialogParent, lines, briefFormat);
    };
    m_askSaveName = AskReportFileName;
    CreateControls();
    CreateActions();
    ConnectHandlers();
    Form_Load();
}

// A search still running stops, and its thread is waited for before the
// window it reports to goes.
MainWindow::~MainWindow() {
    m_worker->Stop();
    m_worker->Join();
}

// --- the design -------------------------------------------------------------

void MainWindow::CreateControls() {
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QStringLiteral("Kestrel for Windows (1.0)"));
    // The icon drawn pixel by pixel at 32 pixels, and smooth at the sizes
    // panels, task bars and large screens ask for.
    QIcon icon(QStringLiteral(":/kestrel_icon.xpm"));
    for (const int size : {16, 24, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/kestrel_icon_%1.png").arg(size));
    setWindowIcon(icon);
    // A sizable window with a minimise box and no maximise box.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setFont(WindowFont());
    FillWithParentBackground(this);
    setAcceptDrops(true);
    setMinimumSize(TwipsToPixels(kDesignClientWidth), TwipsToPixels(kDesignClientHeight));
    resize(minimumSize());

    const auto checkBox = [this](const char* name, const char* caption, const char* tip, int top) {
        auto* box = Design(new OptionCheckBox(QString::fromLatin1(caption), this), name, 6240,
                           top - kSpareOptionRow, 2415, 255);
        box->setToolTip(QString::fromLatin1(tip));
        return box;
    };
    chkVersion = checkBox("chkVersion", "Hide Version Info", "Hides File and Productversion", 4800);
    chkDebug = checkBox("chkDebug", "Hide Programmer Info", "Hides Comments and Filenames", 5520);
    chkCompany =
        checkBox("chkCompany", "Hide Company Info", "Hides Trademarks and Copyright", 5280);
    chkImport =
        checkBox("chkImport", "Hide Imports", "Hides imported DLLs, NLMs and Overlays", 5040);

    cmdPrint =
        Design(new QPushButton(QStringLiteral("&Print"), this), "cmdPrint", 3960, 5160, 1560, 600);

    // The logo: the 180-pixel bitmap inside a 2-pixel sunken border.
    Picture3 = Design(new QLabel(this), "Picture3", 6240, 960, 2760, 2760);
    Picture3->setFont(TerminalFont());
    Picture3->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    Picture3->setLineWidth(2);
    Picture3->setAlignment(Qt::AlignCenter);
    Picture3->setPixmap(QPixmap(QStringLiteral(":/kestrel_logo.xpm")));

    // These two are designed on the menu colour, which is the window's own:
    // unfilled, they show it and match the four below them.
    chkBrief = checkBox("chkBrief", "Brief Format", "Display one line per file", 4560);
    chkSubdirs =
        checkBox("chkSubdirs", "Scan Subdirectories", "Scan all subdirectories for pattern", 4320);
    chkArchives = checkBox("chkArchives", "Look Inside Archives",
                           "Scan inside archives, compressed files and disk images", 5760);

    CreateResultsPanel();
    CreateCriteriaPanel();

    cmdSearch = Design(new QPushButton(kSearchCaption, this), "cmdSearch", 360, 5160, 1560, 600);
    cmdExit = Design(new QPushButton(kExitCaption, this), "cmdExit", 2160, 5160, 1560, 600);
    for (QPushButton* button : {cmdSearch, cmdExit}) {
        QPalette palette = button->palette();
        palette.setColor(QPalette::Button, kMainButtonColour);
        button->setPalette(palette);
    }
    // Enter clicks the button that has the focus, and cmdSearch when the
    // focus is on a control that is not a button (keyPressEvent).
    for (QPushButton* button : {cmdSearch, cmdExit, cmdPrint})
        button->setAutoDefault(true);
    cmdSearch->setDefault(true);

    // The two frames only draw a border behind the buttons and option boxes.
    fraButtons = Design(new QGroupBox(this), "fraButtons", 120, 4920, 5535, 975);
    fraButtons->setFont(TerminalFont());
    fraOptions = Design(new QGroupBox(QStringLiteral("Options"), this), "fraOptions", 6000,
                        4080 - kSpareOptionRow, 2775, 1815 + kSpareOptionRow);
    fraOptions->lower();
    fraButtons->lower();

    FitLabelsToText();
    SetTabOrder();
}

void MainWindow::CreateResultsPanel() {
    // Its design position is replaced when the window loads.
    Picture2 = Design(new QFrame(this), "Picture2", 8520, 840, 9135, 4935);
    FillWithParentBackground(Picture2);
    Picture2->hide();

    InstallResultListAccessibility();
    lstFoundFiles =
        Design(new ResultListView(*m_results, Picture2), "lstFoundFiles", 120, 480, 9015, 3840);
    lstFoundFiles->setFont(ResultListFont());
    lstFoundFiles->setAccessibleName(QStringLiteral("Results"));

    fraCount = Design(new QGroupBox(Picture2), "fraCount", 120, 0, 9015, 375);
    lblCount = Design(new QLabel(QStringLiteral("0"), fraCount), "lblCount", 1440, 120, 1095, 255);
    lblShowPath = Design(new CaptionLabel(QStringLiteral("CurrentPath"), fraCount), "lblShowPath",
                         2640, 120, 6255, 255);
    lblfound = Design(new QLabel(QStringLiteral("Files Scanned:"), fraCount), "lblfound", 120, 120,
                      1455, 255);
    FillWithParentBackground(lblCount);
    FillWithParentBackground(lblfound);
    // The caption's last characters run under the count's first: the count wins.
    lblCount->raise();
}

void MainWindow::CreateCriteriaPanel() {
    Picture1 = Design(new QFrame(this), "Picture1", 0, 0, 5775, 4815);
    FillWithParentBackground(Picture1);

    cmbSearchSpec = Design(new QComboBox(Picture1), "cmbSearchSpec", 120, 600, 5535, 315);
    cmbSearchSpec->setEditable(true);
    // Only a search enters a specification into the list, by its own rules.
    cmbSearchSpec->setInsertPolicy(QComboBox::NoInsert);
    // Nothing is completed while typing, since the file list follows the text
    // as typed; and a case-sensitive completer keeps the combo box from
    // swapping the text for a Recent entry that differs only in case when the
    // focus leaves it.
    auto* noCompletion = new QCompleter(QStringList(), cmbSearchSpec);
    noCompletion->setCaseSensitivity(Qt::CaseSensitive);
    cmbSearchSpec->setCompleter(noCompletion);
    cmbSearchSpec->setEditText(kAllFilesPreset);

    const auto preset = [this](const char* name, const char* caption, const char* tip, int left) {
        auto* button = Design(new QPushButton(QString::fromLatin1(caption), Picture1), name, left,
                              120, 960, 375);
        button->setToolTip(QString::fromLatin1(tip));
        button->setAutoDefault(true);
        return button;
    };
    cmdWindows = preset("cmdWindows", "DosWin", "Selects DOS and Windows executables", 3600);
    cmdAll = preset("cmdAll", "All Files", "Selects all files", 2520);
    cmdNetWare = preset("cmdNetWare", "NetWare", "Selects NLM type files", 4680);

    drvList = Design(new DriveList(Picture1), "drvList", 2640, 960, 3015, 315);
    dirList = Design(new DirectoryList(Picture1), "dirList", 2640, 1320 + kPathFieldRow, 3015,
                     3465 - kPathFieldRow);
    txtPath =
        Design(new PathField(
                   *dirList, [this](const QString& path) { return OpenPath(path); }, Picture1),
               "txtPath", 2640, 1320, 3015, 315);
    filList = Design(new FileList(Picture1), "filList", 120, 960, 2415, 3795);
    // A combo box's name is its text on Linux, where a label would name it:
    // the description says what these two are.
    for (auto [box, name] : {std::pair<QWidget*, const char*>{cmbSearchSpec, "Search Criteria"},
                             {drvList, "Drives"}}) {
        box->setAccessibleName(QString::fromLatin1(name));
        box->setAccessibleDescription(QString::fromLatin1(name));
    }
    dirList->setAccessibleName(QStringLiteral("Directories"));
    filList->setAccessibleName(QStringLiteral("Files"));

    lblCriteria = Design(new QLabel(QStringLiteral("Search &Criteria:"), Picture1), "lblCriteria",
                         120, 240, 1335, 255);
    FillWithParentBackground(lblCriteria);
    // Alt+C goes to the control after the label in the tab order.
    lblCriteria->setBuddy(filList);
}

// The result list's context menu and the window's keys. Copy and Select All
// are the list's own; the others work wherever the focus is.
void MainWindow::CreateActions() {
    const auto action = [](const char* text, const QKeySequence& keys, QWidget* owner) {
        auto* added = new QAction(QString::fromLatin1(text), owner);
        added->setShortcut(keys);
        added->setShortcutContext(Qt::WidgetWithChildrenShortcut);
        owner->addAction(added);
        return added;
    };
    m_copyAction = action("&Copy", QKeySequence::Copy, lstFoundFiles);
    m_selectAllAction = action("Select &All", QKeySequence::SelectAll, lstFoundFiles);
    auto* separator = new QAction(lstFoundFiles);
    separator->setSeparator(true);
    lstFoundFiles->addAction(separator);
    m_saveAction = action("&Save Report As...", QKeySequence(Qt::CTRL | Qt::Key_S), this);
    lstFoundFiles->addAction(m_saveAction);
    lstFoundFiles->setContextMenuPolicy(Qt::ActionsContextMenu);
    m_copyAction->setEnabled(false);
    m_saveAction->setEnabled(false);
    connect(m_copyAction, &QAction::triggered, this, &MainWindow::CopySelectedLines);
    connect(m_selectAllAction, &QAction::triggered, lstFoundFiles, &ResultListView::SelectAll);
    connect(m_saveAction, &QAction::triggered, this, &MainWindow::SaveReportAs);
    CreateProblemControls();
    m_details = new DetailsOpener(*lstFoundFiles, *m_results, *this);
    m_findBar = new FindBar(*lstFoundFiles, *m_results, *this);
    connect(m_findBar, &FindBar::VisibilityChanged, this, &MainWindow::LayoutPass);

    const auto key = [this](const QKeySequence& keys, auto handler) {
        connect(new QShortcut(keys, this), &QShortcut::activated, this, handler);
    };
    key(QKeySequence(Qt::Key_Escape), &MainWindow::CancelSearch);
    key(QKeySequence(Qt::Key_F5), &MainWindow::SearchAgain);
    key(QKeySequence(Qt::CTRL | Qt::Key_Q), &QWidget::close);
    key(QKeySequence(Qt::CTRL | Qt::Key_P), [this] {
        if (cmdPrint->isEnabled())
            cmdPrint_Click();
    });
}

// A label or check box is never narrower than its text, whatever font stands
// in for the design's; and the count keeps a space after "Files Scanned:".
void MainWindow::FitLabelsToText() {
    for (QWidget* control : {static_cast<QWidget*>(lblCriteria), static_cast<QWidget*>(lblfound),
                             static_cast<QWidget*>(chkSubdirs), static_cast<QWidget*>(chkBrief),
                             static_cast<QWidget*>(chkVersion), static_cast<QWidget*>(chkImport),
                             static_cast<QWidget*>(chkCompany), static_cast<QWidget*>(chkDebug),
                             static_cast<QWidget*>(chkArchives)})
        control->resize(std::max(control->width(), control->sizeHint().width()), control->height());
    const QFontMetrics metrics(lblfound->font());
    const int countLeft =
        lblfound->x() + metrics.horizontalAdvance(lblfound->text() + QLatin1Char(' '));
    if (countLeft > lblCount->x()) {
        const int shift = countLeft - lblCount->x();
        lblCount->move(countLeft, lblCount->y());
        lblShowPath->setGeometry(lblShowPath->x() + shift, lblShowPath->y(),
                                 lblShowPath->width() - shift, lblShowPath->height());
    }
}

void MainWindow::SetTabOrder() {
    // Tab positions 0 to 26; labels, frames, panels and hidden or disabled
    // controls are passed over when the focus moves.
    QWidget* const order[] = {cmdSearch,  cmdExit,    Picture1,    lblCriteria, filList,
                              dirList,    drvList,    txtPath,     Picture2,    lstFoundFiles,
                              chkSubdirs, chkBrief,   Picture3,    fraButtons,  cmdPrint,
                              chkImport,  chkCompany, chkDebug,    chkVersion,  chkArchives,
                              fraOptions, cmdNetWare, cmdAll,      cmdWindows,  cmbSearchSpec,
                              fraCount,   lblfound,   lblShowPath, lblCount};
    // Only controls that take the focus join the chain: a panel placed in it
    // would carry its children along.
    QWidget* previous = nullptr;
    for (QWidget* control : order) {
        if (!(control->focusPolicy() & Qt::TabFocus))
            continue;
        if (previous != nullptr)
            QWidget::setTabOrder(previous, control);
        previous = control;
    }
}

void MainWindow::ConnectHandlers() {
    connect(cmdNetWare, &QPushButton::clicked, this, &MainWindow::cmdNetWare_Click);
    connect(cmdWindows, &QPushButton::clicked, this, &MainWindow::cmdWindows_Click);
    connect(cmdAll, &QPushButton::clicked, this, &MainWindow::cmdAll_Click);
    connect(cmbSearchSpec, &QComboBox::editTextChanged, this, &MainWindow::cmbSearchSpec_Change);
    connect(cmbSearchSpec, &QComboBox::activated, this, &MainWindow::cmbSearchSpec_Click);
    cmbSearchSpec->installEventFilter(this);
    cmbSearchSpec->lineEdit()->installEventFilter(this);
    connect(dirList, &DirectoryList::PathChanged, this, &MainWindow::DirList_Change);
    dirList->installEventFilter(this);
    connect(drvList, &DriveList::DriveChanged, this, &MainWindow::DrvList_Change);
    connect(chkBrief, &QCheckBox::stateChanged, this, &MainWindow::chkBrief_Click);
    connect(cmdExit, &QPushButton::clicked, this, &MainWindow::cmdExit_Click);
    connect(cmdSearch, &QPushButton::clicked, this, &MainWindow::cmdSearch_Click);
    connect(cmdPrint, &QPushButton::clicked, this, &MainWindow::cmdPrint_Click);
    connect(lstFoundFiles->verticalScrollBar(), &QScrollBar::valueChanged, this,
            &MainWindow::lstFoundFiles_Scroll);
    connect(lstFoundFiles, &ResultListView::SelectionChanged, this,
            [this] { m_copyAction->setEnabled(!lstFoundFiles->Selection().empty()); });
    connect(m_worker, &SearchWorker::ProgressReady, this, &MainWindow::TakeSearchProgress);
    connect(m_takeProgress, &QTimer::timeout, this, &MainWindow::TakeSearchProgress);
    // Files and folders added or removed in the open folder show in the lists
    // while the criteria do; the criteria shown again are listed afresh.
    m_folderWatch = new FolderWatch(this);
    connect(m_folderWatch, &FolderWatch::Changed, this, [this] {
        if (m_state == SearchState::Idle) {
            dirList->Refresh();
            filList->Refresh();
        }
    });
    // A screen unplugged or made smaller must not leave the window off it.
    const auto watchScreen = [this](QScreen* screen) {
        connect(screen, &QScreen::availableGeometryChanged, this, &MainWindow::FitOnScreens);
    };
    for (QScreen* screen : QGuiApplication::screens())
        watchScreen(screen);
    connect(qApp, &QGuiApplication::screenAdded, this, watchScreen);
    connect(qApp, &QGuiApplication::screenRemoved, this, &MainWindow::FitOnScreens,
            Qt::QueuedConnection);
}

// --- load, unload and layout --------------------------------------------------

void MainWindow::Form_Load() {
    // The window opens in the current directory of the process.
    if (!dirList->SetPath(QDir::currentPath().toStdString()) &&
        !dirList->SetPath(QDir::homePath().toStdString()))
        dirList->SetPath("/");

    {
        const QSettings settings(QSettings::IniFormat, QSettings::UserScope,
                                 QString::fromLatin1(kSettingsName),
                                 QString::fromLatin1(kSettingsName));
        ApplyStoredGeometry(ReadGeometry(settings));
        cmbSearchSpec->addItems(ReadRecentList(settings));
    }
    PlacePanelsAtLoad();

    filList->SetShowHidden(true);
    cmbSearchSpec->setEditText(kAllFilesPreset);
    cmdPrint->setEnabled(false);
    // The focus starts where the tab order does: Search, not the first box
    // created, which Space would check unseen.
    cmdSearch->setFocus(Qt::OtherFocusReason);
}

void MainWindow::Form_Unload() {
    if (m_unloaded)
        return;
    m_unloaded = true;
    QSettings settings(QSettings::IniFormat, QSettings::UserScope,
                       QString::fromLatin1(kSettingsName), QString::fromLatin1(kSettingsName));
    WriteGeometry(settings, CurrentGeometry());
    QStringList recent;
    for (int i = 0; i < cmbSearchSpec->count(); ++i)
        recent.append(cmbSearchSpec->itemText(i));
    WriteRecentList(settings, recent);
    settings.sync();
}

void MainWindow::ApplyStoredGeometry(const StoredGeometry& geometry) {
    const QRect stored(TwipsToPixels(geometry.left), TwipsToPixels(geometry.top),
                       TwipsToPixels(geometry.width), TwipsToPixels(geometry.height));
    const QRect outer = PlaceOnScreens(stored, AvailableScreenAreas(), MinimumOuterSize());
    // What the screens made of it is what is kept, so a place or size they
    // cannot show is never written back.
    m_loadedGeometry = geometry;
    if (outer.topLeft() != stored.topLeft()) {
        m_loadedGeometry.left = PixelsToTwips(outer.left());
        m_loadedGeometry.top = PixelsToTwips(outer.top());
    }
    if (outer.size() != stored.size()) {
        m_loadedGeometry.width = PixelsToTwips(outer.width());
        m_loadedGeometry.height = PixelsToTwips(outer.height());
    }
    // The stored size is the outer one; the frame is taken at its design size,
    // so a size written at unload comes back the same whatever the frame.
    m_loadedRect = QRect(outer.topLeft(), outer.size() - DesignFrameSize());
    move(m_loadedRect.topLeft());
    resize(m_loadedRect.size());
    m_normalRect = QRect(pos(), size());
    if (geometry.maximised)
        setWindowState(Qt::WindowMaximized);
}

// The place and size a maximised or minimised window returns to: written
// instead of the screen's, so the window never opens off screen or at the size
// of the screen in its normal state.
void MainWindow::KeepNormalGeometry() {
    if (isVisible() &&
        !(windowState() & (Qt::WindowMaximized | Qt::WindowMinimized | Qt::WindowFullScreen)))
        m_normalRect = QRect(pos(), size());
}

StoredGeometry MainWindow::CurrentGeometry() const {
    // A window not moved or resized since it was loaded writes what was read,
    // so the round trip is exact whatever the scale and the frame.
    StoredGeometry stored = m_loadedGeometry;
    if (!SameWithinAPixel(m_normalRect, m_loadedRect)) {
        // Only what the screens can show: a window dragged half off them
        // comes back whole.
        const QRect outer =
            PlaceOnScreens(QRect(m_normalRect.topLeft(), m_normalRect.size() + DesignFrameSize()),
                           AvailableScreenAreas(), MinimumOuterSize());
        stored.left = PixelsToTwips(outer.left());
        stored.top = PixelsToTwips(outer.top());
        stored.width = PixelsToTwips(outer.width());
        stored.height = PixelsToTwips(outer.height());
    }
    stored.maximised = (windowState() & Qt::WindowMaximized) != 0;
    return stored;
}

QSize MainWindow::MinimumOuterSize() const {
    return minimumSize() + DesignFrameSize();
}

// The window as it stands, its real frame included, made to fit the screens
// again: once its frame is known, and whenever the screens change.
void MainWindow::FitOnScreens() {
    if (!isVisible() ||
        (windowState() & (Qt::WindowMaximized | Qt::WindowMinimized | Qt::WindowFullScreen)))
        return;
    const QRect frame = frameGeometry();
    const QSize frameSize = frame.size() - size();
    const QRect placed = PlaceOnScreens(frame, AvailableScreenAreas(), minimumSize() + frameSize);
    if (placed == frame)
        return;
    move(placed.topLeft());
    resize(placed.size() - frameSize);
}

void MainWindow::PlacePanelsAtLoad() {
    const int w = PixelsToTwips(width());
    const int h = PixelsToTwips(height());
    Picture1->setGeometry(0, 0, TwipsToPixels(5775), TwipsToPixels(h - 1320));
    Picture2->setGeometry(0, 0, TwipsToPixels(w), TwipsToPixels(h - 1320));
}

void MainWindow::LayoutPass() {
    // The minimum size is the window's own, so the client area is never
    // smaller than the design when this runs.
    if (isMinimized())
        return;
    const WindowLayout layout =
        ComputeWindowLayout(PixelsToTwips(width()), PixelsToTwips(height()));
    Picture1->resize(Picture1->width(), TwipsToPixels(layout.picture1Height));
    filList->resize(filList->width(), TwipsToPixels(layout.filListHeight));
    dirList->resize(dirList->width(), TwipsToPixels(layout.dirListHeight - kPathFieldRow));
    Picture2->resize(TwipsToPixels(layout.picture2Width), TwipsToPixels(layout.picture2Height));
    lstFoundFiles->resize(TwipsToPixels(layout.lstFoundFilesWidth),
                          TwipsToPixels(layout.lstFoundFilesHeight));
    if (m_findBar != nullptr)
        m_findBar->Place();
    Picture3->move(TwipsToPixels(layout.picture3Left), TwipsToPixels(layout.picture3Top));
    SetTop(fraButtons, layout.fraButtonsTop);
    SetTop(fraOptions, layout.fraOptionsTop);
    for (QWidget* button : {cmdExit, cmdSearch, cmdPrint})
        SetTop(button, layout.buttonsTop);
    QWidget* const boxes[] = {chkSubdirs, chkBrief, chkVersion, chkImport,
                              chkCompany, chkDebug, chkArchives};
    for (std::size_t i = 0; i < std::size(boxes); ++i)
        SetTop(boxes[i], layout.checkBoxTops[i]);
}

void MainWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    KeepNormalGeometry();
    LayoutPass();
}

void MainWindow::moveEvent(QMoveEvent* event) {
    QWidget::moveEvent(event);
    KeepNormalGeometry();
}

void MainWindow::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    // Restoring a minimised window lays it out again.
    if (event->type() == QEvent::WindowStateChange)
        LayoutPass();
    // By its first activation the window manager has framed the window.
    if (event->type() == QEvent::ActivationChange && isActiveWindow() && !m_framedFit) {
        m_framedFit = true;
        FitOnScreens();
    }
}

void MainWindow::closeEvent(QCloseEvent* event) {
    // A running search stops within a fraction of a second, inside a file
    // too, and its thread is waited for: nothing is left running.
    m_worker->Stop();
    m_worker->Join();
    Form_Unload();
    event->accept();
}

// --- opening a folder ------------------------------------------------------------

bool MainWindow::OpenPath(const QString& path) {
    return OpenPaths({path});
}

// A folder opens in the criteria; files open their folder, with those of them
// that lie in it selected. Anything else changes nothing.
bool MainWindow::OpenPaths(const QStringList& paths) {
    if (paths.isEmpty() || m_state == SearchState::Searching)
        return false;
    const QFileInfo first(paths.first());
    const QString directory = first.isDir() ? first.absoluteFilePath() : first.absolutePath();
    if (!(first.isDir() || first.isFile()) || !IsListableDirectory(directory.toStdString()))
        return false;
    if (m_state == SearchState::Finished)
        ResetForNewSearch();
    dirList->SetPath(directory.toStdString());
    std::vector<std::string> names;
    for (const QString& path : paths) {
        const QFileInfo file(path);
        if (file.isFile() && file.absolutePath() == directory)
            names.push_back(file.fileName().toStdString());
    }
    // Files the search specification leaves out are shown by all files.
    if (!names.empty() && filList->SelectNames(names) < names.size()) {
        cmbSearchSpec->setEditText(kAllFilesPreset);
        filList->SelectNames(names);
    }
    return true;
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
    if (m_state != SearchState::Searching && !LocalPaths(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* event) {
    if (OpenPaths(LocalPaths(event->mimeData())))
        event->acceptProposedAction();
}

// --- keyboard and focus ---------------------------------------------------------

void MainWindow::keyPressEvent(QKeyEvent* event) {
    // Enter that no control took is the default button's.
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
        cmdSearch->isVisible() && cmdSearch->isEnabled()) {
        cmdSearch->click();
        return;
    }
    QWidget::keyPressEvent(event);
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    if ((watched == cmbSearchSpec || watched == cmbSearchSpec->lineEdit()) &&
        event->type() == QEvent::FocusIn) {
        cmbSearchSpec_GotFocus();
    } else if ((watched == cmbSearchSpec || watched == cmbSearchSpec->lineEdit()) &&
               event->type() == QEvent::KeyPress) {
        // The editable combo box keeps Enter to itself; the search takes it.
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            keyPressEvent(static_cast<QKeyEvent*>(event));
            return true;
        }
    } else if (watched == dirList && event->type() == QEvent::FocusOut) {
        // Switching to another program is no loss of focus to the window.
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason)
            DirList_LostFocus();
    }
    return QWidget::eventFilter(watched, event);
}

// --- the criteria handlers -------------------------------------------------------

void MainWindow::cmdNetWare_Click() {
    cmbSearchSpec->setEditText(kNetWarePreset);
}

void MainWindow::cmdWindows_Click() {
    cmbSearchSpec->setEditText(kDosWinPreset);
}

void MainWindow::cmdAll_Click() {
    cmbSearchSpec->setEditText(kAllFilesPreset);
}

void MainWindow::cmbSearchSpec_Change() {
    // A refused pattern leaves the file list as it was.
    filList->SetPattern(cmbSearchSpec->currentText());
}

void MainWindow::cmbSearchSpec_Click() {
    cmbSearchSpec_Change();
}

void MainWindow::cmbSearchSpec_GotFocus() {
    // Typing replaces the whole specification.
    cmbSearchSpec->lineEdit()->selectAll();
}

void MainWindow::DirList_Change() {
    m_folderWatch->Watch(dirList->Path());
    filList->SetPath(dirList->Path());
    drvList->ShowDriveOf(dirList->Path());
}

void MainWindow::DirList_LostFocus() {
    // A directory only highlighted becomes the open one when the focus leaves.
    const std::string highlighted = dirList->List(dirList->ListIndex());
    if (!highlighted.empty())
        dirList->SetPath(highlighted);
}

void MainWindow::DrvList_Change() {
    // A volume that cannot be read sends the drive list back to the volume
    // of the directory still shown.
    if (!dirList->SetPath(drvList->Drive()))
        drvList->ShowDriveOf(dirList->Path());
}

void MainWindow::chkBrief_Click() {
    const Qt::CheckState hideState =
        chkBrief->checkState() == Qt::Checked ? Qt::PartiallyChecked : Qt::Unchecked;
    for (OptionCheckBox* box : {chkImport, chkCompany, chkVersion, chkDebug})
        box->setCheckState(hideState);
}

void MainWindow::cmdExit_Click() {
    if (m_state == SearchState::Searching)
        CancelSearch();
    else if (!m_searchEnded.isValid() || m_searchEnded.hasExpired(kExitGuardMs))
        close();
}

} // namespace kestrel
