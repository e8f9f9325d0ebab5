#pragma once

#include <atomic>
#include <cstdint>
#include <thread>

#include <QPointer>
#include <QWidget>

#include <nlohmann/json_fwd.hpp>

#include "record_reader.h"
#include "report_records.h"

class QAction;
class QLabel;
class QPushButton;
class QTreeWidget;

namespace kestrel {

class ResultListModel;
class ResultListView;

// The Details window "frmDetails": every fact of one report's record, as
// kestrel-scan --json writes it, as a tree of fact and value (nested objects
// and lists as branches, the numbers of a header in hexadecimal too), from
// which Ctrl+C copies the selected rows as text. The digests are computed on
// request, by reading the file (or the container that holds it) again on a
// thread of its own; so is the whole record when the search did not keep it.
class DetailsWindow : public QWidget {
    Q_OBJECT

public:
    explicit DetailsWindow(QWidget* parent = nullptr);
    ~DetailsWindow() override; // stops a read and waits for it

    void ShowReport(const KeptReport& report);
    void ComputeDigests();
    bool Reading() const { return m_reading; }
    // The selected rows, each as its fact and value separated by a tab and
    // indented by two spaces a level, in the tree's order.
    QString SelectedRowsText() const;

Q_SIGNALS:
    // A read of the file has ended, and what it found is shown.
    void ReadEnded();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void ShowRecord(const std::string& record);
    void StartReading(bool digests);
    void TakeRead(const ReadAgain& read, std::uint64_t generation);
    void StopReading();
    void UpdateDigestsButton();
    bool ChangedSinceTheSearch(const nlohmann::ordered_json& fresh) const;

    KeptReport m_report;
    std::string m_shownRecord;
    QLabel* m_status = nullptr;
    QTreeWidget* m_tree = nullptr;
    QPushButton* m_digests = nullptr;
    std::thread m_reader;
    std::atomic<bool> m_stop{false};
    std::uint64_t m_generation = 0; // of the read whose result is awaited
    bool m_reading = false;
};

// Opens the Details window for the report under the result list's cursor: on
// a double click, on Enter (which does nothing else in the list) and from the
// list's context menu. All of the list's key and mouse handling for it is here.
class DetailsOpener : public QObject {
    Q_OBJECT

public:
    DetailsOpener(ResultListView& list, const ResultListModel& model, QWidget& window);
    // False when the cursor is on no report (a directory line, an empty list).
    bool OpenCurrent();
    DetailsWindow* Window() const { return m_details; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    ResultListView& m_list;
    QWidget* m_viewport; // only compared: events come while the list goes
    const ResultListModel& m_model;
    QWidget& m_window;
    QAction* m_action = nullptr;
    QPointer<DetailsWindow> m_details;
};

} // namespace kestrel
