#include "find_bar.h"

#include <algorithm>
#include <string>

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QScrollBar>
#include <QShortcut>
#include <QToolButton>

#include "result_list_model.h"
#include "result_list_view.h"
#include "text.h"

namespace kestrel {

namespace {

bool HoldsText(std::string_view line, std::string_view lowerText) {
    return std::search(line.begin(), line.end(), lowerText.begin(), lowerText.end(),
                       [](char a, char b) { return AsciiLowerChar(a) == b; }) != line.end();
}

} // namespace

int FindLine(const ResultListModel& model, std::string_view text, int from, bool forward) {
    const int count = model.LineCount();
    if (text.empty() || count == 0)
        return -1;
    const std::string lowerText = AsciiLower(text);
    if (from < 0 || from >= count)
        from = forward ? count - 1 : 0;
    const int step = forward ? 1 : count - 1;
    for (int i = 1; i <= count; ++i) {
        const int line =
            static_cast<int>((static_cast<std::int64_t>(from) + std::int64_t{step} * i) % count);
        if (HoldsText(model.Line(line), lowerText))
            return line;
    }
    return -1;
}

FindBar::FindBar(ResultListView& list, const ResultListModel& model, QWidget& window)
    : QWidget(list.parentWidget()), m_list(list), m_model(model) {
    setObjectName(QStringLiteral("fraFind"));
    m_text = new QLineEdit(this);
    m_text->setObjectName(QStringLiteral("txtFind"));
    m_text->setAccessibleName(QStringLiteral("Find"));
    m_text->setPlaceholderText(QStringLiteral("Find in the results"));
    m_text->setClearButtonEnabled(true);
    m_text->installEventFilter(this);
    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("lblFindStatus"));
    const auto button = [this](const QString& text, const QString& tip) {
        auto* added = new QToolButton(this);
        added->setText(text);
        added->setToolTip(tip);
        added->setAutoRaise(true);
        return added;
    };
    QToolButton* previous = button(QStringLiteral("Previous"), QStringLiteral("Shift+F3"));
    QToolButton* next = button(QStringLiteral("Next"), QStringLiteral("F3"));
    QToolButton* close = button(QStringLiteral("Close"), QStringLiteral("Escape"));
    connect(previous, &QToolButton::clicked, this, [this] { FindNext(false); });
    connect(next, &QToolButton::clicked, this, [this] { FindNext(true); });
    connect(close, &QToolButton::clicked, this, &FindBar::Close);
    connect(m_text, &QLineEdit::textEdited, m_status, &QLabel::clear);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 2, 0, 0);
    layout->addWidget(new QLabel(QStringLiteral("Find:"), this));
    layout->addWidget(m_text, 2);
    layout->addWidget(previous);
    layout->addWidget(next);
    layout->addWidget(m_status, 3);
    layout->addWidget(close);
    hide();

    const auto key = [&window, this](const QKeySequence& keys, auto handler) {
        connect(new QShortcut(keys, &window), &QShortcut::activated, this, [this, handler] {
            if (m_list.isVisible())
                handler();
        });
    };
    key(QKeySequence(Qt::CTRL | Qt::Key_F), [this] { Open(); });
    key(QKeySequence(Qt::Key_F3), [this] { FindNext(true); });
    key(QKeySequence(Qt::SHIFT | Qt::Key_F3), [this] { FindNext(false); });
}

void FindBar::Place() {
    if (isHidden())
        return;
    const int height = sizeHint().height();
    const QRect list = m_list.geometry();
    setGeometry(list.left(), list.bottom() + 1 - height, list.width(), height);
    m_list.resize(list.width(), std::max(0, list.height() - height));
}

void FindBar::Open() {
    ShowBar();
    m_text->setFocus(Qt::ShortcutFocusReason);
    m_text->selectAll();
}

void FindBar::ShowBar() {
    if (isHidden()) {
        show();
        Q_EMIT VisibilityChanged();
    }
}

void FindBar::Close() {
    hide();
    Q_EMIT VisibilityChanged();
    m_list.setFocus(Qt::OtherFocusReason);
}

bool FindBar::FindNext(bool forward) {
    if (m_text->text().isEmpty()) {
        Open();
        return false;
    }
    // F3 with the bar closed opens it: it is where a failure is said.
    ShowBar();
    const std::string text = m_text->text().toStdString();
    const int from = m_list.CurrentLine();
    const int line = FindLine(m_model, text, from, forward);
    if (line < 0) {
        m_status->setText(QStringLiteral("Not found: \"%1\"").arg(m_text->text()));
        return false;
    }
    // The report that holds the line comes to the top, when the line then
    // shows: the list's top snaps to a report's first line anyway.
    const int visible = std::max(1, m_list.viewport()->height() / m_list.LineRect(0).height());
    int top = line;
    for (int start = line; start >= 0 && line - start < visible; --start) {
        if (m_model.Kind(start) == LineKind::ReportStart) {
            top = start;
            break;
        }
    }
    m_list.verticalScrollBar()->setValue(top);
    m_list.SetCurrentLine(line);
    const bool wrapped = from >= 0 && (forward ? line <= from : line >= from);
    m_status->setText(wrapped ? (forward ? QStringLiteral("Went on from the top")
                                         : QStringLiteral("Went on from the end"))
                              : QString());
    return true;
}

bool FindBar::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_text &&
        (event->type() == QEvent::KeyPress || event->type() == QEvent::ShortcutOverride)) {
        // Enter and Escape are the bar's own here, not the window's.
        auto* key = static_cast<QKeyEvent*>(event);
        const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
        if (!enter && key->key() != Qt::Key_Escape)
            return false;
        if (event->type() == QEvent::ShortcutOverride) {
            event->accept();
            return true;
        }
        if (enter)
            FindNext(!(key->modifiers() & Qt::ShiftModifier));
        else
            Close();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace kestrel
