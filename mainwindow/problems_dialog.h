#pragma once

#include <functional>

#include <QDialog>
#include <QStringList>

class QLabel;
class QPlainTextEdit;

namespace kestrel {

// "What Could Not Be Read": every problem a search kept, one a line ("path:
// reason"), whole and selectable, with Copy All and Save As. A search that met
// more problems than it kept says how many are not listed.
class ProblemsDialog : public QDialog {
    Q_OBJECT

public:
    explicit ProblemsDialog(QWidget* parent = nullptr);

    void SetProblems(const QStringList& problems, qint64 count);
    QString Text() const;

    // What Save As asks for the file with; an empty name cancels.
    using SaveNameFunction = std::function<QString(QWidget* parent, const QString& suggested)>;
    void SetSaveNameFunction(SaveNameFunction ask) { m_askSaveName = std::move(ask); }

    void CopyAll();
    // Writes the list as UTF-8 text, one problem a line; a failure is said.
    void SaveAs();

private:
    QLabel* m_summary = nullptr;
    QPlainTextEdit* m_list = nullptr;
    SaveNameFunction m_askSaveName;
    QString m_lastSaveName;
};

} // namespace kestrel
