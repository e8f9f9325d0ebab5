// The window's search: from the Search button through the walk, which runs on
// a thread of its own, to the finished state, Continue back to the criteria;
// the result list's scrolling, which snaps its top to the first line of a
// report; and getting the results out: Print, Copy and Save Report As.

#include <utility>

#include <QAction>
#include <QBuffer>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSaveFile>
#include <QScrollBar>
#include <QTimer>

#include "directory_list.h"
#include "file_list.h"
#include "file_listing.h"
#include "main_window.h"
#include "option_check_box.h"
#include "result_list_model.h"
#include "result_list_view.h"
#include "result_scrolling.h"
#include "search_worker.h"
#include "walk.h"
#include "window_locale.h"

namespace kestrel {

namespace {

const QString kContinueCaption = QStringLiteral("&Continue");
const QString kCancelCaption = QStringLiteral("&Cancel");

} // namespace

void MainWindow::cmdSearch_Click() {
    RunSearch();
}

void MainWindow::RunSearch() {
    if (m_state == SearchState::Finished) {
        ResetForNewSearch();
        cmbSearchSpec->setFocus(Qt::OtherFocusReason);
        return;
    }
    // The button keeps its caption while a search runs; a click then would
    // start a second search, so it is ignored.
    if (m_state == SearchState::Searching)
        return;
    // Enter with the directory list focused: a directory only highlighted is
    // opened, and that is all.
    const std::string highlighted = dirList->List(dirList->ListIndex());
    if (!highlighted.empty() && highlighted != dirList->Path()) {
        dirList->SetPath(highlighted);
        return;
    }
    const QString spec = cmbSearchSpec->currentText();
    if (!ParseSearchSpec(spec.toStdString())) {
        RefuseSearch(QStringLiteral("Not searched: a search pattern cannot hold \"/\"."));
        return;
    }
    SearchRequest request;
    request.selected = filList->SelectedNames();
    EnterSearchingState();
    request.root = dirList->Path();
    EnterIntoRecentList(spec);
    request.patterns = filList->Patterns();
    // Selected files are the search: no subdirectory is visited.
    request.recursive = request.selected.empty() && chkSubdirs->checkState() == Qt::Checked;
    request.lookInside = chkArchives->checkState() == Qt::Checked;
    request.layout = SearchLayout();
    request.locale = SystemReportLocale();
    m_lastRequest = request;
    m_worker->Start(std::move(request));
    m_takeProgress->start();
}

// F5: a search with the criteria as they stand, from the finished state too.
void MainWindow::SearchAgain() {
    if (m_state == SearchState::Finished)
        ResetForNewSearch();
    if (m_state == SearchState::Idle)
        RunSearch();
}

// Nothing is searched and nothing enters the Recent list; the results panel
// says why, and Continue returns to the criteria as after a search.
void MainWindow::RefuseSearch(const QString& reason) {
    EnterSearchingState();
    lblShowPath->setText(reason);
    m_state = SearchState::Finished;
    cmdSearch->setText(kContinueCaption);
    cmdSearch->setFocus(Qt::OtherFocusReason);
    cmdExit->setText(kExitCaption);
}

void MainWindow::EnterSearchingState() {
    m_state = SearchState::Searching;
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
    for (QWidget* box :
         {chkSubdirs, chkBrief, chkVersion, chkImport, chkCompany, chkDebug, chkArchives})
        box->hide();
    filList->SetPattern(cmbSearchSpec->currentText());
}

void MainWindow::CancelSearch() {
    if (m_state == SearchState::Searching) {
        m_cancelled = true;
        m_worker->Stop();
    }
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

// The walk's progress since it was last taken: new lines for the list, the
// counter, the status caption, and at the end the finished state.
void MainWindow::TakeSearchProgress() {
    if (m_state != SearchState::Searching)
        return;
    SearchProgress progress = m_worker->TakeProgress();
    if (progress.listFull || !m_results->Append(progress.lines, progress.records)) {
        m_listFull = true;
        m_worker->Stop();
    }
    m_scannedCount = progress.scannedCount;
    ShowCount();
    for (const ReadProblem& problem : progress.problems)
        m_problems << QString::fromStdString(problem.path + ": " + problem.reason);
    m_problemCount += progress.problemCount;
    if (!progress.stoppedIn.empty())
        m_stoppedIn = QString::fromStdString(progress.stoppedIn);
    if (progress.caption)
        ShowPathCaption(*progress.caption);
    if (progress.finished) {
        // A cancel that came after the last file stopped nothing.
        m_cancelled = m_cancelled && progress.stopped;
        m_worker->Join();
        EnterFinishedState();
    }
}

void MainWindow::ShowCount() {
    lblCount->setText(QString::number(m_scannedCount));
}

// The whole text: the label shortens it to its width.
void MainWindow::ShowPathCaption(const std::string& text) {
    lblShowPath->setText(QString::fromStdString(text));
}

void MainWindow::EnterFinishedState() {
    m_state = SearchState::Finished;
    m_takeProgress->stop();
    m_searchEnded.start();
    ShowCount();
    m_results->Flush();
    SnapResultList();
    if (const QString caption = FinishedCaption(); !caption.isEmpty())
        lblShowPath->setText(caption);
    OfferProblems(!m_problems.isEmpty());
    cmdPrint->setEnabled(true);
    m_saveAction->setEnabled(true);
    cmdSearch->setText(kContinueCaption);
    cmdSearch->setFocus(Qt::OtherFocusReason);
    cmdExit->setText(kExitCaption);
}

// How the search ended, when that is more than the directory at the top of
// the list: a list that filled up, a cancel (and the report it cut short), or
// the first of what could not be read. The caption shows it until the list is
// scrolled; the problems stay a click away (OfferProblems).
QString MainWindow::FinishedCaption() const {
    if (m_listFull)
        return QStringLiteral("The result list is full: the search stopped early.");
    if (m_cancelled && !m_stoppedIn.isEmpty())
        return QStringLiteral("Cancelled while reading %1: the report is cut short there.")
            .arg(m_stoppedIn);
    if (m_cancelled)
        return QStringLiteral("Cancelled: the search did not reach its end.");
    if (m_problems.isEmpty())
        return QString();
    const QString count =
        m_problemCount == 1 ? QString() : QStringLiteral(" (%1 in all)").arg(m_problemCount);
    return QStringLiteral("Not read%1: ").arg(count) + m_problems.first();
}

void MainWindow::ResetForNewSearch() {
    m_state = SearchState::Idle;
    m_listFull = false;
    m_problems.clear();
    m_problemCount = 0;
    m_cancelled = false;
    m_stoppedIn.clear();
    OfferProblems(false);
    cmdPrint->setEnabled(false);
    m_saveAction->setEnabled(false);
    for (QWidget* box :
         {chkSubdirs, chkBrief, chkVersion, chkImport, chkCompany, chkDebug, chkArchives})
        box->show();
    m_results->Clear();
    m_lastRequest.reset();
    m_copyAction->setEnabled(false);
    // The list is empty again, so the next snap starts from its top.
    LastTopIndex = 0;
    m_scannedCount = 0;
    lblCount->setText(QStringLiteral("0"));
    cmdSearch->setText(kSearchCaption);
    cmdExit->setText(kExitCaption);
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
    if (m_state != SearchState::Searching && !m_snapping)
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
        ShowPathCaption(DirectoryOfLine(*m_results, directoryLine));
    LastTopIndex = top;
    m_snapping = false;
}

// --- getting the results out --------------------------------------------------

void MainWindow::cmdPrint_Click() {
    // The print runs beside the window on a copy of the lines: the window
    // goes on, and nothing in it changes.
    if (m_print)
        m_print(this, *m_results, chkBrief->checkState() == Qt::Checked);
}

// The selected lines in list order, each followed by a line feed.
void MainWindow::CopySelectedLines() {
    QBuffer text;
    text.open(QIODevice::WriteOnly);
    for (const auto& [first, last] : lstFoundFiles->Selection())
        m_results->WriteLines(text, first, last);
    QGuiApplication::clipboard()->setText(QString::fromUtf8(text.data()));
}

// The whole list as a UTF-8 text file, one line per list line; or the
// search's reports as kestrel-scan writes them in CSV or JSON Lines.
void MainWindow::SaveReportAs() {
    if (m_state != SearchState::Finished)
        return;
    const QString suggested = m_lastSaveName.isEmpty()
                                  ? QDir::home().filePath(QStringLiteral("kestrel-report.txt"))
                                  : m_lastSaveName;
    const SaveChoice choice = m_askSaveName(this, suggested);
    if (choice.name.isEmpty())
        return;
    if (choice.format != ReportFileFormat::Text) {
        // Save is offered only after a search, which leaves its request.
        if (m_lastRequest && m_saver.Save(this, *m_lastRequest, choice.format, choice.name))
            m_lastSaveName = choice.name;
        return;
    }
    // QSaveFile's commit drops an error of its last flush (a full disk, a
    // file size limit) and keeps the short file: flushed first, it is seen.
    QSaveFile file(choice.name);
    if (!file.open(QIODevice::WriteOnly) ||
        !m_results->WriteLines(file, 0, m_results->LineCount() - 1) || !file.flush() ||
        !file.commit()) {
        WarnNotSaved(this, choice.name, file.errorString());
        return;
    }
    m_lastSaveName = choice.name;
}

} // namespace kestrel
