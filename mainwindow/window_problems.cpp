// What a search could not read, kept within reach once it has ended: a button
// beside the status caption and an entry of the result list's context menu
// open "What Could Not Be Read" with the whole list.

#include <algorithm>

#include <QAction>
#include <QGroupBox>
#include <QPushButton>

#include "caption_label.h"
#include "main_window.h"
#include "problems_dialog.h"
#include "result_list_view.h"

namespace kestrel {

namespace {

// Pixels between the button and the caption, and around the button.
constexpr int kButtonGap = 4;

} // namespace

void MainWindow::CreateProblemControls() {
    m_captionWidth = lblShowPath->width();
    cmdNotRead = new QPushButton(fraCount);
    cmdNotRead->setObjectName(QStringLiteral("cmdNotRead"));
    cmdNotRead->setAccessibleName(QStringLiteral("What Could Not Be Read"));
    cmdNotRead->setToolTip(QStringLiteral("What Could Not Be Read"));
    cmdNotRead->setAutoDefault(true);
    cmdNotRead->hide();
    connect(cmdNotRead, &QPushButton::clicked, this, &MainWindow::ShowProblemsDialog);

    m_problemsAction = new QAction(QStringLiteral("What Could Not Be &Read..."), lstFoundFiles);
    lstFoundFiles->addAction(m_problemsAction);
    m_problemsAction->setEnabled(false);
    connect(m_problemsAction, &QAction::triggered, this, &MainWindow::ShowProblemsDialog);
}

// The button stands at the right end of the counter strip; the caption gives
// it room while it shows.
void MainWindow::OfferProblems(bool offered) {
    m_problemsAction->setEnabled(offered);
    if (offered) {
        cmdNotRead->setText(QStringLiteral("&Not Read (%1)...").arg(m_problemCount));
        const int height =
            std::min(cmdNotRead->sizeHint().height(), fraCount->height() - kButtonGap);
        const int width = cmdNotRead->sizeHint().width();
        cmdNotRead->setGeometry(fraCount->width() - width - kButtonGap,
                                (fraCount->height() - height) / 2, width, height);
        cmdNotRead->show();
        lblShowPath->resize(cmdNotRead->x() - kButtonGap - lblShowPath->x(), lblShowPath->height());
        return;
    }
    cmdNotRead->hide();
    lblShowPath->resize(m_captionWidth, lblShowPath->height());
    if (m_problemsDialog != nullptr)
        m_problemsDialog->close();
}

void MainWindow::ShowProblemsDialog() {
    if (m_problems.isEmpty())
        return;
    if (m_problemsDialog == nullptr)
        m_problemsDialog = new ProblemsDialog(this);
    m_problemsDialog->SetProblems(m_problems, m_problemCount);
    m_problemsDialog->show();
    m_problemsDialog->raise();
    m_problemsDialog->activateWindow();
}

} // namespace kestrel
