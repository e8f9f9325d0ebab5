#include "problems_dialog.h"

#include <QClipboard>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QLabel>
#include <QLocale>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSaveFile>
#include <QVBoxLayout>

namespace kestrel {

ProblemsDialog::ProblemsDialog(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("dlgProblems"));
    setWindowTitle(QStringLiteral("What Could Not Be Read"));
    m_summary = new QLabel(this);
    m_summary->setWordWrap(true);
    m_list = new QPlainTextEdit(this);
    m_list->setReadOnly(true);
    m_list->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_list->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    m_list->setAccessibleName(windowTitle());
    m_summary->setBuddy(m_list);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    QPushButton* copy =
        buttons->addButton(QStringLiteral("&Copy All"), QDialogButtonBox::ActionRole);
    QPushButton* save =
        buttons->addButton(QStringLiteral("&Save As..."), QDialogButtonBox::ActionRole);
    copy->setObjectName(QStringLiteral("cmdCopyProblems"));
    save->setObjectName(QStringLiteral("cmdSaveProblems"));
    connect(copy, &QPushButton::clicked, this, &ProblemsDialog::CopyAll);
    connect(save, &QPushButton::clicked, this, &ProblemsDialog::SaveAs);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_summary);
    layout->addWidget(m_list);
    layout->addWidget(buttons);
    resize(720, 360);

    m_askSaveName = [](QWidget* dialogParent, const QString& suggested) {
        return QFileDialog::getSaveFileName(dialogParent, QStringLiteral("Save As"), suggested,
                                            QStringLiteral("Text files (*.txt);;All files (*)"));
    };
}

void ProblemsDialog::SetProblems(const QStringList& problems, qint64 count) {
    // A line may stand for a whole container, with the count of its problems.
    QString summary =
        count == 1
            ? QStringLiteral("One thing could not be read in full:")
            : QStringLiteral("%1 things could not be read in full:").arg(QLocale().toString(count));
    if (count > problems.size())
        summary += QStringLiteral(" the first %1 are listed; kestrel-scan names them all.")
                       .arg(QLocale().toString(problems.size()));
    m_summary->setText(summary);
    m_list->setPlainText(problems.join(u'\n'));
}

QString ProblemsDialog::Text() const {
    return m_list->toPlainText();
}

void ProblemsDialog::CopyAll() {
    QGuiApplication::clipboard()->setText(Text() + u'\n');
}

void ProblemsDialog::SaveAs() {
    const QString suggested = m_lastSaveName.isEmpty()
                                  ? QDir::home().filePath(QStringLiteral("kestrel-not-read.txt"))
                                  : m_lastSaveName;
    const QString name = m_askSaveName(this, suggested);
    if (name.isEmpty())
        return;
    // Flushed before the commit, whose own flush error would be lost.
    QSaveFile file(name);
    const QByteArray text = (Text() + u'\n').toUtf8();
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.flush() ||
        !file.commit()) {
        QMessageBox::warning(this, windowTitle(),
                             QStringLiteral("The list could not be saved as %1: %2.")
                                 .arg(QDir::toNativeSeparators(name), file.errorString()));
        return;
    }
    m_lastSaveName = name;
}

} // namespace kestrel
