// The window's search: from the Search button through the walk to the
// finished state, Continue back to the criteria, and the result list's
// scrolling, which snaps its top to the first line of a file's report.

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QListView>
#include <QPushButton>
#include <QScrollBar>

#include "directory_list.h"
#include "file_list.h"
#include "main_window.h"
#include "option_check_box.h"
#include "quill_scan.h"
#include "result_list_model.h"
#include "result_scrolling.h"
#include "window_locale.h"

namespace kestrel {

namespace {

// While a search runs, the counter's caption is redrawn at most this often,
// and whenever the walk enters a directory: a redraw after every file costs
// more than the scan of a small file. The count itself is always exact.
constexpr qint64 kCountShowIntervalMs = 50;

const QString kContinueCaption = QStringLiteral("&Continue");
const QString kCancelCaption = QStringLiteral("&Cancel");

} // namespace

void MainWindow::cmdSearch_Click() {
    RunSearch();
}

void MainWindow::RunSearch() {
    if (cmdSearch->text() == kContinueCaption) {
        ResetForNewSearch();
        cmbSearchSpec->setFocus(Qt::OtherFocusReason);
        return;
    }
    // The button keeps its caption while a search runs; a click then would
    // start a second walk inside the first, so it is ignored.
    if (SearchRunning)
        return;
    // Enter with the directory list focused: a directory only highlighted is
    // opened, and that is all.
    const std::string highlighted = dirList->List(dirList->ListIndex());
    if (!highlighted.empty() && highlighted != dirList->Path()) {
        dirList->SetPath(highlighted);
        return;
    }
    const std::vector<std::string> selected = filList->SelectedNames();
    EnterSearchingState();
    SearchRunning = true;
    const std::string root = dirList->Path();
    EnterIntoRecentList(cmbSearchSpec->currentText());
    m_countShown.start();
    if (selected.empty())
        WalkDirectory(root);
    else
        ScanSelectedFiles(selected);
    SearchRunning = false;
    EnterFinishedState();
}

void MainWindow::EnterSearchingState() {
    Picture2->move(0, 0);
    Picture1->hide();
    Picture3->hide();
    Picture2->show();
    SearchRoot = dirList->List(dirList->ListIndex());
    if (SearchRoot.empty())
        SearchRoot = dirList->Path();
    cmdPrint->setEnabled(false);
    cmdExit->setText(kCancelCaption);
    fraOptions->hide();
    for (QWidget* box : {chkSubdirs, chkBrief, chkVersion, chkImport, chkCompany, chkDebug})
        box->hide();
    filList->SetPattern(cmbSearchSpec->currentText());
}

void MainWindow::EnterIntoRecentList(const QString& spec) {
    QStringList recent;
    for (int i = 0; i < cmbSearchSpec->count(); ++i)
        recent.append(cmbSearchSpec->itemText(i));
    if (!EnterRecentSpec(recent, spec))
        return;
    // Refilling the list must not change the text the search runs with.
    const QString text = cmbSearchSpec->currentText();
    const QSignalBlocker blocker(cmbSearchSpec);
    cmbSearchSpec->clear();
    cmbSearchSpec->addItems(recent);
    cmbSearchSpec->setEditText(text);
}

ReportLayout MainWindow::SearchLayout() const {
    // A box counts as set only at value 1; the greyed hide boxes of brief
    // format are not set.
    const auto isSet = [](const QCheckBox* box) { return box->checkState() == Qt::Checked; };
    ReportLayout layout;
    layout.brief = isSet(chkBrief);
    layout.hideVersion = isSet(chkVersion);
    layout.hideImports = isSet(chkImport);
    layout.hideCompany = isSet(chkCompany);
    layout.hideProgrammer = isSet(chkDebug);
    return layout;
}

WalkHooks MainWindow::SearchHooks() {
    WalkHooks hooks;
    hooks.showCaption = [this](const std::string& caption) {
        ShowCount();
        ShowPathCaption(caption, 60);
    };
    hooks.fileScanned = [this] {
        ++m_scannedCount;
        if (m_countShown.hasExpired(kCountShowIntervalMs))
            ShowCount();
        Q_EMIT FileScanned(m_scannedCount);
    };
    // The scan file is closed here: the window takes its pending events, so
    // Cancel, a resize or a redraw gets through, and the list shows the new
    // reports when their time has come.
    hooks.yield = [] { QCoreApplication::processEvents(); };
    hooks.cancelled = [this] { return !SearchRunning; };
    return hooks;
}

void MainWindow::WalkDirectory(const std::string& root) {
    QuillScan scanner(*m_sink, SearchLayout(), SystemReportLocale());
    DirectoryWalk walk(scanner, *m_sink, filList->Patterns(),
                       chkSubdirs->checkState() == Qt::Checked, SearchHooks());
    walk.WalkDirectory(root);
}

void MainWindow::ScanSelectedFiles(const std::vector<std::string>& selected) {
    QuillScan scanner(*m_sink, SearchLayout(), SystemReportLocale());
    DirectoryWalk walk(scanner, *m_sink, filList->Patterns(), false, SearchHooks());
    walk.ScanSelectedFiles(dirList->Path(), selected);
}

void MainWindow::ShowCount() {
    lblCount->setText(QString::number(m_scannedCount));
    m_countShown.restart();
}

void MainWindow::ShowPathCaption(const std::string& text, std::size_t maxLength) {
    lblShowPath->setText(QString::fromStdString(ShortenCaption(text, maxLength)));
}

void MainWindow::EnterFinishedState() {
    ShowCount();
    m_results->Flush();
    // The view lays out new lines on its next turn; the snap needs them now.
    lstFoundFiles->doItemsLayout();
    SnapResultList();
    cmdPrint->setEnabled(true);
    cmdSearch->setText(kContinueCaption);
    cmdSearch->setFocus(Qt::OtherFocusReason);
    cmdExit->setText(QStringLiteral("E&xit"));
}

void MainWindow::ResetForNewSearch() {
    cmdPrint->setEnabled(false);
    for (QWidget* box : {chkSubdirs, chkBrief, chkVersion, chkImport, chkCompany, chkDebug})
        box->show();
    m_results->Clear();
    // The list is empty again, so the next snap starts from its top.
    LastTopIndex = 0;
    m_scannedCount = 0;
    lblCount->setText(QStringLiteral("0"));
    cmdSearch->setText(QStringLiteral("&Search"));
    cmdExit->setText(QStringLiteral("E&xit"));
    Picture2->hide();
    fraOptions->show();
    dirList->SetPath(SearchRoot);
    filList->SetPath(dirList->Path());
    Picture1->show();
    Picture3->show();
}

// --- scrolling --------------------------------------------------------------------

void MainWindow::lstFoundFiles_Scroll() {
    // While a search runs, scrolling only moves the list: the caption shows
    // the walk's status.
    if (!SearchRunning && !m_snapping)
        SnapResultList();
}

int MainWindow::TopIndex() const {
    // The list scrolls by whole lines, so its scroll position is its top line.
    return lstFoundFiles->verticalScrollBar()->value();
}

void MainWindow::SetTopIndex(int index) {
    lstFoundFiles->verticalScrollBar()->setValue(index);
}

void MainWindow::SnapResultList() {
    m_snapping = true;
    const int target = SnapTopIndex(*m_results, TopIndex(), LastTopIndex);
    if (target >= 0)
        SetTopIndex(target);
    // The list decides how far down a line can come to the top.
    const int top = TopIndex();
    const int directoryLine = DirectoryLineAtOrAbove(*m_results, top);
    if (directoryLine >= 0)
        ShowPathCaption(DirectoryOfLine(*m_results, directoryLine), 60);
    LastTopIndex = top;
    m_snapping = false;
}

// --- printing ---------------------------------------------------------------------

void MainWindow::cmdPrint_Click() {
    // Printing runs to its end; a failure or a cancelled dialog ends it
    // silently, and nothing in the window changes either way.
    if (m_print)
        m_print(this, m_results->AllLines(), chkBrief->checkState() == Qt::Checked);
}

} // namespace kestrel
