#include "details_window.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QShortcut>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <QVBoxLayout>

#include <nlohmann/json.hpp>

#include "output_sinks.h"
#include "result_list_model.h"
#include "result_list_view.h"

namespace kestrel {

namespace {

using Json = nlohmann::ordered_json;

// The members of a record whose numbers are a header's fields, which the
// format's documentation gives in hexadecimal.
bool HoldsHeaderFields(const std::string& key) {
    return key == "pe" || key == "ne" || key == "lx" || key == "fixed_file_info";
}

QString Utf8(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// A text as a row shows it: a line break of the file (CR LF, CR or LF) as one
// line break, any other control character as JSON writes it ("\t",
// "\u0004"), so that none is a gap or a glyph the font lacks.
QString Shown(const std::string& text) {
    QString shown;
    const QString utf16 = Utf8(text);
    for (qsizetype i = 0; i < utf16.size(); ++i) {
        const char16_t c = utf16[i].unicode();
        if (c == u'\r' || c == u'\n') {
            if (c == u'\r' && i + 1 < utf16.size() && utf16[i + 1] == u'\n')
                ++i;
            shown += u'\n';
        } else if (c == u'\t') {
            shown += QStringLiteral("\\t");
        } else if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) {
            shown += QStringLiteral("\\u%1").arg(static_cast<unsigned>(c), 4, 16, QLatin1Char('0'));
        } else {
            shown += utf16[i];
        }
    }
    return shown;
}

QString NumberText(const Json& value, bool hex) {
    if (!hex || !value.is_number_unsigned())
        return Utf8(value.dump());
    const auto number = value.get<std::uint64_t>();
    const QString digits =
        QString::number(number, 16).toUpper().rightJustified(number > 0xFFFF ? 8 : 4, u'0');
    return QStringLiteral("%1 (0x%2)").arg(number).arg(digits);
}

QTreeWidgetItem* AddRow(QTreeWidgetItem* parent, const QString& fact, const QString& value) {
    auto* row = new QTreeWidgetItem(parent, {fact, value});
    row->setToolTip(1, value);
    // A fact of several lines is named on its first.
    row->setTextAlignment(0, Qt::AlignLeft | Qt::AlignTop);
    return row;
}

// One member of the record and all it holds.
void AddFact(QTreeWidgetItem* parent, const QString& fact, const Json& value, bool hex) {
    if (value.is_object()) {
        QTreeWidgetItem* row = AddRow(parent, fact, QString());
        for (const auto& [key, member] : value.items())
            AddFact(row, Utf8(key), member, hex || HoldsHeaderFields(key));
    } else if (value.is_array()) {
        QTreeWidgetItem* row = AddRow(parent, fact, QString::number(value.size()));
        int index = 0;
        for (const Json& item : value) {
            ++index;
            // A [key, value] pair (res_strings) and a version table (its
            // language and strings) are rows of their own key.
            if (item.is_array() && item.size() == 2 && item[0].is_string())
                AddFact(row, Shown(item[0].get<std::string>()), item[1], hex);
            else if (item.is_object() && item.contains("language") && item.contains("strings"))
                AddFact(row, Shown(item["language"].get<std::string>()), item["strings"], hex);
            else
                AddFact(row, QString::number(index), item, hex);
        }
    } else if (value.is_string()) {
        AddRow(parent, fact, Shown(value.get<std::string>()));
    } else if (value.is_null()) {
        QTreeWidgetItem* row = AddRow(parent, fact, QStringLiteral("(none)"));
        row->setForeground(1, QPalette().brush(QPalette::Disabled, QPalette::Text));
    } else {
        AddRow(parent, fact, value.is_number() ? NumberText(value, hex) : Utf8(value.dump()));
    }
}

// The record without its digests, to tell whether a file read again still
// says what it said in the search.
Json WithoutDigests(Json record) {
    for (const std::string& name : kDetailsDigests)
        record.erase(name);
    return record;
}

QString FileName(const std::string& path) {
    return Utf8(path.substr(path.rfind('/') + 1));
}

} // namespace

DetailsWindow::DetailsWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("frmDetails"));
    setWindowTitle(QStringLiteral("Details"));
    resize(620, 640);

    m_tree = new QTreeWidget(this);
    m_tree->setObjectName(QStringLiteral("treeDetails"));
    m_tree->setAccessibleName(QStringLiteral("Details"));
    m_tree->setHeaderLabels({QStringLiteral("Fact"), QStringLiteral("Value")});
    m_tree->setColumnCount(2);
    m_tree->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_tree->setWordWrap(false);
    m_tree->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    m_tree->header()->setStretchLastSection(true);

    const auto addAction = [this](const char* text, const QKeySequence& keys) {
        auto* action = new QAction(QString::fromLatin1(text), m_tree);
        action->setShortcut(keys);
        action->setShortcutContext(Qt::WidgetWithChildrenShortcut);
        m_tree->addAction(action);
        return action;
    };
    connect(addAction("&Copy", QKeySequence::Copy), &QAction::triggered, this,
            [this] { QApplication::clipboard()->setText(SelectedRowsText()); });
    connect(addAction("Select &All", QKeySequence::SelectAll), &QAction::triggered, m_tree,
            &QTreeWidget::selectAll);
    connect(addAction("Copy Record as &JSON", QKeySequence()), &QAction::triggered, this,
            [this] { QApplication::clipboard()->setText(Utf8(m_shownRecord)); });
    m_tree->setContextMenuPolicy(Qt::ActionsContextMenu);

    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("lblDetailsStatus"));
    m_status->setWordWrap(true);
    m_status->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_digests = new QPushButton(QStringLiteral("Compute &Hashes"), this);
    m_digests->setObjectName(QStringLiteral("cmdHashes"));
    m_digests->setToolTip(QStringLiteral("Reads the file again for its SHA-256, SHA-1 and MD5"));
    auto* close = new QPushButton(QStringLiteral("Close"), this);
    connect(m_digests, &QPushButton::clicked, this, &DetailsWindow::ComputeDigests);
    connect(close, &QPushButton::clicked, this, &QWidget::close);
    connect(new QShortcut(QKeySequence(Qt::Key_Escape), this), &QShortcut::activated, this,
            &QWidget::close);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_status, 1);
    buttons->addWidget(m_digests);
    buttons->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_tree, 1);
    layout->addLayout(buttons);
}

DetailsWindow::~DetailsWindow() {
    StopReading();
}

void DetailsWindow::closeEvent(QCloseEvent* event) {
    StopReading();
    QWidget::closeEvent(event);
}

void DetailsWindow::ShowReport(const KeptReport& report) {
    StopReading();
    m_report = report;
    const ReportLocator& where = report.where;
    QString title = QStringLiteral("Details: ") + Shown(where.name);
    if (!where.container.empty())
        title += QStringLiteral(" in ") + FileName(where.container);
    setWindowTitle(title);
    UpdateDigestsButton();
    ShowRecord(report.record);
    m_status->clear();
    if (!report.record.empty())
        return;
    if (where.container.empty())
        m_status->setText(QStringLiteral("Reading the file..."));
    else
        m_status->setText(QStringLiteral("The search kept the details of its first members "
                                         "only: reading %1 again...")
                              .arg(FileName(where.container)));
    StartReading(false);
}

void DetailsWindow::ShowRecord(const std::string& record) {
    m_shownRecord = record;
    m_tree->clear();
    const Json parsed = Json::parse(record, nullptr, false);
    if (!parsed.is_object())
        return;
    for (const auto& [key, value] : parsed.items())
        AddFact(m_tree->invisibleRootItem(), Utf8(key), value, HoldsHeaderFields(key));
    m_tree->expandAll();
}

void DetailsWindow::ComputeDigests() {
    m_status->setText(m_report.where.container.empty()
                          ? QStringLiteral("Reading the file for its hashes...")
                          : QStringLiteral("Reading %1 for the member's hashes...")
                                .arg(FileName(m_report.where.container)));
    StartReading(true);
}

void DetailsWindow::StartReading(bool digests) {
    StopReading();
    m_stop = false;
    m_reading = true;
    UpdateDigestsButton();
    const std::uint64_t generation = ++m_generation;
    m_reader = std::thread([this, where = m_report.where, digests, generation] {
        const ReadAgain read =
            ReadReportAgain(where, digests ? kDetailsDigests : std::vector<std::string>(), m_stop);
        // Queued to this window: dropped with it when it goes first.
        QMetaObject::invokeMethod(
            this, [this, read, generation] { TakeRead(read, generation); }, Qt::QueuedConnection);
    });
}

void DetailsWindow::StopReading() {
    m_stop = true;
    if (m_reader.joinable())
        m_reader.join();
    m_reading = false;
    UpdateDigestsButton();
}

// An embedded module's digests are those of the NLM that holds it, given
// with that file's own report.
void DetailsWindow::UpdateDigestsButton() {
    m_digests->setEnabled(!m_reading && m_report.where.embeddedIn.empty());
}

void DetailsWindow::TakeRead(const ReadAgain& read, std::uint64_t generation) {
    if (generation != m_generation || !m_reading)
        return;
    if (m_reader.joinable())
        m_reader.join();
    m_reading = false;
    UpdateDigestsButton();
    QString status;
    if (read.record.empty()) {
        status = read.problems.empty()
                     ? QStringLiteral("The file no longer holds this report: it has changed "
                                      "since the search.")
                     : QStringLiteral("Not read again: ") + Utf8(read.problems.front());
    } else {
        QStringList said;
        if (ChangedSinceTheSearch(Json::parse(read.record, nullptr, false)))
            said << QStringLiteral("The file has changed since the search: these are its "
                                   "details as it is now.");
        if (!read.problems.empty())
            said << QStringLiteral("Read with a problem: ") + Utf8(read.problems.front());
        status = said.join(u' ');
        ShowRecord(read.record);
    }
    m_status->setText(status);
    Q_EMIT ReadEnded();
}

// A record kept is compared whole; else the size and time the search saw.
bool DetailsWindow::ChangedSinceTheSearch(const nlohmann::ordered_json& fresh) const {
    if (!m_report.record.empty())
        return WithoutDigests(Json::parse(m_report.record, nullptr, false)) !=
               WithoutDigests(fresh);
    return fresh.value("size", std::int64_t{-1}) != m_report.size ||
           fresh.value("modified", std::string()) != Rfc3339LocalTime(m_report.modifiedTime);
}

QString DetailsWindow::SelectedRowsText() const {
    QString text;
    for (QTreeWidgetItemIterator it(m_tree, QTreeWidgetItemIterator::Selected); *it; ++it) {
        int depth = 0;
        for (const QTreeWidgetItem* up = (*it)->parent(); up != nullptr; up = up->parent())
            ++depth;
        text += QString(2 * depth, u' ') + (*it)->text(0);
        if (!(*it)->text(1).isEmpty())
            text += u'\t' + (*it)->text(1);
        text += u'\n';
    }
    return text;
}

// --- opening it from the result list ------------------------------------------

DetailsOpener::DetailsOpener(ResultListView& list, const ResultListModel& model, QWidget& window)
    : QObject(&window), m_list(list), m_viewport(list.viewport()), m_model(model),
      m_window(window) {
    m_list.installEventFilter(this);
    m_viewport->installEventFilter(this);
    m_action = new QAction(QStringLiteral("&Details..."), &m_list);
    const QList<QAction*> actions = m_list.actions();
    auto* separator = new QAction(&m_list);
    separator->setSeparator(true);
    m_list.insertActions(actions.value(0), {m_action, separator});
    m_action->setEnabled(false);
    connect(m_action, &QAction::triggered, this, &DetailsOpener::OpenCurrent);
    connect(&m_list, &ResultListView::SelectionChanged, this,
            [this] { m_action->setEnabled(m_model.ReportAt(m_list.CurrentLine()).has_value()); });
}

bool DetailsOpener::OpenCurrent() {
    const std::optional<KeptReport> report = m_model.ReportAt(m_list.CurrentLine());
    if (!report)
        return false;
    if (m_details == nullptr)
        m_details = new DetailsWindow(&m_window);
    m_details->ShowReport(*report);
    m_details->show();
    m_details->raise();
    m_details->activateWindow();
    return true;
}

bool DetailsOpener::eventFilter(QObject* watched, QEvent* event) {
    if (watched == &m_list && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            OpenCurrent();
            return true;
        }
    } else if (watched == m_viewport && event->type() == QEvent::MouseButtonDblClick) {
        // The press before it made the line under the pointer current.
        const auto* click = static_cast<QMouseEvent*>(event);
        if (click->button() == Qt::LeftButton &&
            m_list.LineRect(m_list.CurrentLine()).contains(click->position().toPoint()))
            OpenCurrent();
        return true;
    }
    return QObject::eventFilter(watched, event);
}

} // namespace kestrel
