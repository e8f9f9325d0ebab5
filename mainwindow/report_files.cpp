#include "report_files.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLocale>
#include <QMessageBox>
#include <QProgressDialog>
#include <QSaveFile>

namespace kestrel {

namespace {

struct FileType {
    ReportFileFormat format;
    const char* filter;
    const char* suffix;
};

constexpr FileType kFileTypes[] = {
    {ReportFileFormat::Text, "Text report (*.txt)", "txt"},
    {ReportFileFormat::Csv, "CSV, a row a report (*.csv)", "csv"},
    {ReportFileFormat::JsonLines, "JSON Lines, a record a report (*.jsonl)", "jsonl"},
};

const QString kSaveTitle = QStringLiteral("Save Report As");

// What could not be read is named up to this many times once a save ends;
// the rest are counted.
constexpr qsizetype kProblemsNamed = 10;

} // namespace

SaveChoice AskReportFileName(QWidget* parent, const QString& suggested) {
    QStringList filters;
    for (const FileType& type : kFileTypes)
        filters << QString::fromLatin1(type.filter);
    const auto typeOf = [&filters](const QString& filter) -> const FileType& {
        return kFileTypes[std::max<qsizetype>(filters.indexOf(filter), 0)];
    };
    QFileDialog dialog(parent, kSaveTitle);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setNameFilters(filters);
    // The type of the name suggested (the last one saved) comes first.
    for (const FileType& type : kFileTypes) {
        if (QFileInfo(suggested).suffix() == QLatin1String(type.suffix))
            dialog.selectNameFilter(QString::fromLatin1(type.filter));
    }
    dialog.selectFile(suggested);
    // The name follows the type chosen.
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, [&](const QString& filter) {
        const QString suffix = QString::fromLatin1(typeOf(filter).suffix);
        dialog.setDefaultSuffix(suffix);
        const QFileInfo name(dialog.selectedFiles().value(0));
        if (!name.fileName().isEmpty())
            dialog.selectFile(name.completeBaseName() + u'.' + suffix);
    });
    dialog.setDefaultSuffix(QString::fromLatin1(typeOf(dialog.selectedNameFilter()).suffix));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return {dialog.selectedFiles().first(), typeOf(dialog.selectedNameFilter()).format};
}

void WarnNotSaved(QWidget* parent, const QString& name, const QString& error) {
    QMessageBox::warning(parent, kSaveTitle,
                         QStringLiteral("The report could not be saved as %1: %2.")
                             .arg(QDir::toNativeSeparators(name), error));
}

ReportSaver::ReportSaver() : m_worker(new SearchWorker(this)) {
    m_takeProgress.setInterval(SearchWorker::kTakeIntervalMs);
    connect(&m_takeProgress, &QTimer::timeout, this, &ReportSaver::TakeProgress);
    connect(m_worker, &SearchWorker::ProgressReady, this, &ReportSaver::TakeProgress);
}

ReportSaver::~ReportSaver() {
    m_worker->Stop();
    m_worker->Join();
    delete m_progress;
}

bool ReportSaver::Save(QWidget* parent, SearchRequest request, ReportFileFormat format,
                       const QString& name) {
    if (m_file) {
        if (m_progress)
            m_progress->raise();
        return false;
    }
    auto file = std::make_unique<QSaveFile>(name);
    if (!file->open(QIODevice::WriteOnly)) {
        WarnNotSaved(parent, name, file->errorString());
        return false;
    }
    m_file = std::move(file);
    m_parent = parent;
    m_cancelled = false;
    m_problems.clear();
    m_problemCount = 0;
    request.output = format == ReportFileFormat::Csv ? SearchOutput::Csv : SearchOutput::JsonLines;

    // Not modal: the window goes on answering while the folder is read again.
    m_progress =
        new QProgressDialog(QStringLiteral("Saving %1...").arg(QDir::toNativeSeparators(name)),
                            QStringLiteral("&Cancel"), 0, 0, parent);
    m_progress->setWindowTitle(kSaveTitle);
    m_progress->setAttribute(Qt::WA_DeleteOnClose);
    m_progress->setMinimumDuration(0);
    m_progress->setAutoClose(false);
    m_progress->setAutoReset(false);
    connect(m_progress, &QProgressDialog::canceled, this, [this] {
        m_cancelled = true;
        m_worker->Stop();
    });
    m_progress->show();
    m_worker->Start(std::move(request));
    m_takeProgress.start();
    return true;
}

// The reports so far go to the file; a write that fails stops the search.
void ReportSaver::TakeProgress() {
    if (!m_file)
        return;
    SearchProgress progress = m_worker->TakeProgress();
    const auto size = static_cast<qint64>(progress.written.size());
    if (!m_file->error() && m_file->write(progress.written.data(), size) != size)
        m_worker->Stop();
    for (const ReadProblem& problem : progress.problems) {
        if (m_problems.size() < kProblemsNamed)
            m_problems << QString::fromStdString(problem.path + ": " + problem.reason);
    }
    m_problemCount += progress.problemCount;
    if (m_progress && !m_cancelled)
        m_progress->setLabelText(QStringLiteral("Saving %1: %2 files read...")
                                     .arg(QDir::toNativeSeparators(m_file->fileName()),
                                          QLocale().toString(progress.scannedCount)));
    if (progress.finished)
        Finish();
}

// QSaveFile's commit drops an error of its last flush (a full disk, a file
// size limit) and keeps the short file: flushed first, it is seen.
void ReportSaver::Finish() {
    m_takeProgress.stop();
    m_worker->Join();
    delete m_progress;
    const std::unique_ptr<QSaveFile> file = std::move(m_file);
    if (m_cancelled) {
        file->cancelWriting();
        return;
    }
    const bool written = !file->error() && file->flush() && file->commit();
    if (!written)
        Say(QStringLiteral("The report could not be saved as %1: %2.")
                .arg(QDir::toNativeSeparators(file->fileName()), file->errorString()));
    else if (m_problemCount > 0)
        Say(QStringLiteral("Saved as %1. What could not be read (%2 in all):\n%3")
                .arg(QDir::toNativeSeparators(file->fileName()))
                .arg(m_problemCount)
                .arg(m_problems.join(u'\n')));
}

// A box that leaves the window free, as the save did.
void ReportSaver::Say(const QString& text) {
    auto* box = new QMessageBox(QMessageBox::Warning, kSaveTitle, text, QMessageBox::Ok, m_parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::NonModal);
    box->show();
}

} // namespace kestrel
