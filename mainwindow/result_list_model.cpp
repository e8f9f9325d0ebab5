#include "result_list_model.h"

#include <limits>

namespace kestrel {

namespace {

// A list view counts its rows in an int: lines past this are dropped rather
// than wrapping the count.
constexpr std::size_t kMaxLines = std::numeric_limits<int>::max() - 1;

} // namespace

ResultListModel::ResultListModel(QObject* parent) : QAbstractListModel(parent) {
    m_showTimer.setSingleShot(true);
    m_showTimer.setInterval(kShowIntervalMs);
    connect(&m_showTimer, &QTimer::timeout, this, &ResultListModel::Flush);
}

int ResultListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : m_shownCount;
}

QVariant ResultListModel::data(const QModelIndex& index, int role) const {
    if (role != Qt::DisplayRole || !index.isValid() || index.row() >= m_shownCount)
        return {};
    return LineText(index.row());
}

void ResultListModel::AppendLine(std::string_view line) {
    if (m_starts.size() >= kMaxLines)
        return;
    m_starts.push_back(m_text.size());
    m_text.append(line);
    if (!m_showTimer.isActive())
        m_showTimer.start();
}

void ResultListModel::Flush() {
    m_showTimer.stop();
    const int total = static_cast<int>(m_starts.size());
    if (total == m_shownCount)
        return;
    beginInsertRows(QModelIndex(), m_shownCount, total - 1);
    m_shownCount = total;
    endInsertRows();
}

void ResultListModel::Clear() {
    m_showTimer.stop();
    beginResetModel();
    m_text.clear();
    m_text.shrink_to_fit();
    m_starts.clear();
    m_starts.shrink_to_fit();
    m_shownCount = 0;
    endResetModel();
}

std::string_view ResultListModel::Line(int index) const {
    if (index < 0 || index >= m_shownCount)
        return {};
    const auto row = static_cast<std::size_t>(index);
    const std::size_t start = m_starts[row];
    const std::size_t end = row + 1 < m_starts.size() ? m_starts[row + 1] : m_text.size();
    return std::string_view(m_text).substr(start, end - start);
}

QString ResultListModel::LineText(int index) const {
    const std::string_view line = Line(index);
    return QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size()));
}

QStringList ResultListModel::AllLines() const {
    QStringList lines;
    lines.reserve(m_shownCount);
    for (int i = 0; i < m_shownCount; ++i)
        lines.append(LineText(i));
    return lines;
}

} // namespace kestrel
