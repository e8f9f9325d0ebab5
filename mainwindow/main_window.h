#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <QElapsedTimer>
#include <QStringList>
#include <QWidget>

#include "walk.h"
#include "window_settings.h"

class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QListView;
class QPushButton;

namespace kestrel {

class DirectoryList;
class DriveList;
class FileList;
class OptionCheckBox;
class ResultListModel;
class ResultListSink;

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

    // What Print hands the result list to: the report printer, which shows
    // the print dialog and prints; false when cancelled or failed.
    using PrintFunction =
        std::function<bool(QWidget* parent, const QStringList& lines, bool briefFormat)>;
    void SetPrintFunction(PrintFunction print) { m_print = std::move(print); }

Q_SIGNALS:
    // One more file was handed to the scanner; `count` is the counter's value.
    // Sent before the window processes its pending events.
    void FileScanned(qint64 count);

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void CreateControls();
    void CreateCriteriaPanel();
    void CreateResultsPanel();
    void CreateOptions();
    void SetTabOrder();
    void ConnectHandlers();

    // Load and unload of the window.
    void Form_Load();
    void Form_Unload();
    void ApplyStoredGeometry(const StoredGeometry& geometry);
    StoredGeometry CurrentGeometry() const;
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

    // The search and its three states: idle, searching, finished.
    void RunSearch();
    void EnterSearchingState();
    void ScanSelectedFiles(const std::vector<std::string>& selected);
    void WalkDirectory(const std::string& root);
    WalkHooks SearchHooks();
    ReportLayout SearchLayout() const;
    void ShowCount();
    void ShowPathCaption(const std::string& text, std::size_t maxLength = 60);
    void EnterFinishedState();
    void ResetForNewSearch();
    void EnterIntoRecentList(const QString& spec);

    // Result list scrolling.
    void lstFoundFiles_Scroll();
    void SnapResultList();
    int TopIndex() const;
    void SetTopIndex(int index);

    // Form-level fields: true while a search runs; the directory the last
    // search started in.
    bool SearchRunning = false;
    std::string SearchRoot;

    // The top line of the result list when the last snap ended.
    int LastTopIndex = 0;

    ResultListModel* m_results = nullptr;
    std::unique_ptr<ResultListSink> m_sink;
    PrintFunction m_print;
    qint64 m_scannedCount = 0;
    QElapsedTimer m_countShown; // since lblCount last showed the count
    bool m_snapping = false;
    bool m_unloaded = false;

    // The controls, in the order the window stores them.
    OptionCheckBox* chkVersion = nullptr;
    OptionCheckBox* chkDebug = nullptr;
    OptionCheckBox* chkCompany = nullptr;
    OptionCheckBox* chkImport = nullptr;
    QPushButton* cmdPrint = nullptr;
    QLabel* Picture3 = nullptr;
    OptionCheckBox* chkBrief = nullptr;
    OptionCheckBox* chkSubdirs = nullptr;
    QFrame* Picture2 = nullptr;
    QListView* lstFoundFiles = nullptr;
    QGroupBox* fraCount = nullptr;
    QLabel* lblCount = nullptr;
    QLabel* lblShowPath = nullptr;
    QLabel* lblfound = nullptr;
    QFrame* Picture1 = nullptr;
    QComboBox* cmbSearchSpec = nullptr;
    QPushButton* cmdWindows = nullptr;
    QPushButton* cmdAll = nullptr;
    QPushButton* cmdNetWare = nullptr;
    DriveList* drvList = nullptr;
    DirectoryList* dirList = nullptr;
    FileList* filList = nullptr;
    QLabel* lblCriteria = nullptr;
    QPushButton* cmdSearch = nullptr;
    QPushButton* cmdExit = nullptr;
    QGroupBox* fraButtons = nullptr;
    QGroupBox* fraOptions = nullptr;
};

} // namespace kestrel
