#pragma once

#include <memory>

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTimer>

#include "search_worker.h"

class QProgressDialog;
class QSaveFile;
class QWidget;

namespace kestrel {

// What Save Report As writes: the text of the result list, or its reports as
// kestrel-scan writes them with --csv or --json over the same folder with
// the same options.
enum class ReportFileFormat { Text, Csv, JsonLines };

struct SaveChoice {
    QString name; // empty: cancelled
    ReportFileFormat format = ReportFileFormat::Text;
};

// The save dialog, with a file type for each format; the name takes the
// suffix of the type chosen.
SaveChoice AskReportFileName(QWidget* parent, const QString& suggested);

// Says that the report could not be saved as `name`, and why.
void WarnNotSaved(QWidget* parent, const QString& name, const QString& error);

// Saves a search's reports as kestrel-scan writes them with --csv or --json:
// the search runs again over the same folder with the same options, on a
// thread of its own, and the reports go to the file as they come, so the
// result list needs no second copy of them. A progress dialog that leaves the
// window free counts the files and offers Cancel, which leaves no file. What
// could not be read, and a failed write, are said once the save has ended.
class ReportSaver : public QObject {
    Q_OBJECT

public:
    ReportSaver();
    ~ReportSaver() override; // stops a save running; its file is not written

    // False when nothing is begun: a save runs already, or the file cannot
    // be opened (said).
    bool Save(QWidget* parent, SearchRequest request, ReportFileFormat format, const QString& name);

private:
    void TakeProgress();
    void Finish();
    void Say(const QString& text);

    SearchWorker* m_worker;
    std::unique_ptr<QSaveFile> m_file;
    QPointer<QWidget> m_parent;
    QPointer<QProgressDialog> m_progress;
    QTimer m_takeProgress;
    bool m_cancelled = false;
    QStringList m_problems; // "path: reason", the first kept
    qint64 m_problemCount = 0;
};

} // namespace kestrel
