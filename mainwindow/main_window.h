#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <QElapsedTimer>
#include <QString>
#include <QWidget>

#include "report_files.h"
#include "report_printer.h"
#include "report_sink.h"
#include "window_settings.h"

class QAction;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QPushButton;
class QTimer;

namespace kestrel {

class DetailsOpener;
class DirectoryList;
class DriveList;
class FileList;
class FindBar;
class FolderWatch;
class OptionCheckBox;
class PathField;
class ProblemsDialog;
class ReportLines;
class ResultListModel;
class ResultListView;
class SearchWorker;

// The captions the two main buttons take outside a search.
inline const QString kSearchCaption = QStringLiteral("&Search");
inline const QString kExitCaption = QStringLiteral("E&xit");

// The three states of the window: the criteria shown (idle), a search running,
// and its results shown until Continue (finished).
enum class SearchState { Idle, Searching, Finished };

// The main window "frmMain": the search criteria, the options, the result
// list and the three buttons at the bottom. Every control is a member named
// as designed, with that name as its objectName. Positions and sizes are
// designed in twips and shown at 15 twips a pixel.
class MainWindow : public QWidget {
    Q_OBJECT

public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    ResultListModel& ResultList() { return *m_results; }
    SearchState State() const { return m_state; }

    // Opens a directory in the criteria, or a file's directory with the file
    // selected, as `kestrel PATH` and a drop do. False, and nothing changed,
    // for a path that is neither.
    bool OpenPath(const QString& path);
    bool OpenPaths(const QStringList& paths);

    // What Print hands the result list to: the report printer, which shows
    // the print dialog and prints beside the window; false when nothing is
    // printed.
    using PrintFunction =
        std::function<bool(QWidget* parent, const ReportLines& lines, bool briefFormat)>;
    void SetPrintFunction(PrintFunction print) { m_print = std::move(print); }
    // What Save Report As asks for the file and its format with; an empty
    // name cancels.
    using SaveNameFunction = std::function<SaveChoice(QWidget* parent, const QString& suggested)>;
    void SetSaveNameFunction(SaveNameFunction ask) { m_askSaveName = std::move(ask); }

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void changeEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void CreateControls();
    void CreateCriteriaPanel();
    void CreateResultsPanel();
    void CreateActions();
    void FitLabelsToText();
    void SetTabOrder();
    void ConnectHandlers();

    // Load and unload of the window.
    void Form_Load();
    void Form_Unload();
    void ApplyStoredGeometry(const StoredGeometry& geometry);
    StoredGeometry CurrentGeometry() const;
    void KeepNormalGeometry();
    QSize MinimumOuterSize() const;
    void FitOnScreens();
    void PlacePanelsAtLoad();
    void LayoutPass();

    // The criteria handlers.
    void cmdNetWare_Click();
    void cmdWindows_Click();
    void cmdAll_Click();
    void cmbSearchSpec_Change();
    void cmbSearchSpec_Click();
    void cmbSearchSpec_GotFocus();
    void DirList_Change();
    void DirList_LostFocus();
    void DrvList_Change();
    void chkBrief_Click();
    void cmdExit_Click();
    void cmdSearch_Click();
    void cmdPrint_Click();

    // The search and its three states.
    void RunSearch();
    void SearchAgain();
    void RefuseSearch(const QString& reason);
    void EnterSearchingState();
    void CancelSearch();
    void TakeSearchProgress();
    ReportLayout SearchLayout() const;
    void ShowCount();
    void ShowPathCaption(const std::string& text);
    void EnterFinishedState();
    QString FinishedCaption() const;
    // What could not be read: the button beside the caption, the list's
    // context menu and the dialog they open.
    void CreateProblemControls();
    void OfferProblems(bool offered);
    void ShowProblemsDialog();
    void ResetForNewSearch();
    void EnterIntoRecentList(const QString& spec);

    // Result list scrolling.
    void lstFoundFiles_Scroll();
    void SnapResultList();
    int TopIndex() const;
    void SetTopIndex(int index);

    // Getting the results out.
    void CopySelectedLines();
    void SaveReportAs();

    // The directory the last search started in.
    std::string SearchRoot;
    // The top line of the result list when the last snap ended.
    int LastTopIndex = 0;

    SearchState m_state = SearchState::Idle;
    SearchWorker* m_worker = nullptr;
    ResultListModel* m_results = nullptr;
    PrintFunction m_print;
    SaveNameFunction m_askSaveName;
    ReportPrinter m_printer;
    QString m_lastSaveName;
    ReportSaver m_saver;
    std::optional<SearchRequest> m_lastRequest; // of the search whose results are shown
    qint64 m_scannedCount = 0;
    QElapsedTimer m_searchEnded;      // since the last search ended
    QTimer* m_takeProgress = nullptr; // while a search runs
    bool m_listFull = false;          // the last search stopped because the list was full
    QStringList m_problems;           // "path: reason" of what the search could not read
    qint64 m_problemCount = 0;        // the same in all, beyond those kept
    bool m_cancelled = false;         // the user stopped the last search
    QString m_stoppedIn;              // the file or member it stopped inside, if any
    ProblemsDialog* m_problemsDialog = nullptr;
    FolderWatch* m_folderWatch = nullptr; // the open folder, for the lists
    QPushButton* cmdNotRead = nullptr;    // beside the caption, when something was not read
    QAction* m_problemsAction = nullptr;
    int m_captionWidth = 0; // lblShowPath's, with no button beside it
    bool m_snapping = false;
    bool m_unloaded = false;
    bool m_framedFit = false; // fitted on the screens with its real frame
    // The geometry as read at load, the rectangle it gave (the frame's top
    // left and the client size, in pixels), and that rectangle as it stands
    // while the window is neither maximised nor minimised.
    StoredGeometry m_loadedGeometry;
    QRect m_loadedRect;
    QRect m_normalRect;

    QAction* m_copyAction = nullptr;
    QAction* m_selectAllAction = nullptr;
    QAction* m_saveAction = nullptr;
    DetailsOpener* m_details = nullptr;
    FindBar* m_findBar = nullptr;

    // The controls, in the order the window stores them.
    OptionCheckBox* chkVersion = nullptr;
    OptionCheckBox* chkDebug = nullptr;
    OptionCheckBox* chkCompany = nullptr;
    OptionCheckBox* chkImport = nullptr;
    QPushButton* cmdPrint = nullptr;
    QLabel* Picture3 = nullptr;
    OptionCheckBox* chkBrief = nullptr;
    OptionCheckBox* chkSubdirs = nullptr;
    // Added in the options frame's free row, under the others.
    OptionCheckBox* chkArchives = nullptr;
    QFrame* Picture2 = nullptr;
    ResultListView* lstFoundFiles = nullptr;
    QGroupBox* fraCount = nullptr;
    QLabel* lblCount = nullptr;
    QLabel* lblShowPath = nullptr; // a CaptionLabel
    QLabel* lblfound = nullptr;
    QFrame* Picture1 = nullptr;
    QComboBox* cmbSearchSpec = nullptr;
    QPushButton* cmdWindows = nullptr;
    QPushButton* cmdAll = nullptr;
    QPushButton* cmdNetWare = nullptr;
    DriveList* drvList = nullptr;
    DirectoryList* dirList = nullptr;
    PathField* txtPath = nullptr; // added above dirList
    FileList* filList = nullptr;
    QLabel* lblCriteria = nullptr;
    QPushButton* cmdSearch = nullptr;
    QPushButton* cmdExit = nullptr;
    QGroupBox* fraButtons = nullptr;
    QGroupBox* fraOptions = nullptr;
};

} // namespace kestrel
