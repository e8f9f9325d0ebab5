#pragma once

#include <string_view>

#include <QWidget>

class QLabel;
class QLineEdit;

namespace kestrel {

class ResultListModel;
class ResultListView;

// The first line after `from` (before it, going back) that holds `text`,
// ASCII letters matching in either case, going round past the end of the
// list; `from` itself comes last. -1 when no line holds it, or `text` is
// empty. `from` may be -1: the search starts at the top (at the end, going back).
int FindLine(const ResultListModel& model, std::string_view text, int from, bool forward);

// The find bar "fraFind" across the bottom of the result list: Ctrl+F shows
// it with the text to find, Enter and F3 find the next line that holds it,
// Shift+Enter and Shift+F3 the one before, and Escape hides it. A line found
// becomes the list's current line; when none holds the text the bar says so.
class FindBar : public QWidget {
    Q_OBJECT

public:
    // Its keys work anywhere in `window` while the list is shown.
    FindBar(ResultListView& list, const ResultListModel& model, QWidget& window);

    // Shortens the list to make room for the bar under it, when the bar is
    // shown; the window calls it after laying out the list.
    void Place();
    void Open();
    // False when no line holds the text.
    bool FindNext(bool forward);

Q_SIGNALS:
    // Shown or hidden: the list is laid out again.
    void VisibilityChanged();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void ShowBar();
    void Close();

    ResultListView& m_list;
    const ResultListModel& m_model;
    QLineEdit* m_text = nullptr;
    QLabel* m_status = nullptr;
};

} // namespace kestrel
