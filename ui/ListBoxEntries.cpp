#include "ui/ListBoxEntries.h"

namespace velmoran {

ListBoxEntries::ListBoxEntries(QObject* parent) : QAbstractListModel(parent) {}

int ListBoxEntries::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_ends.size());
}

QVariant ListBoxEntries::data(const QModelIndex& index, int role) const
{
    if (role != Qt::DisplayRole || !checkIndex(index, CheckIndexOption::IndexIsValid))
        return {};
    const std::string_view entry = bytes(index.row());
    return QString::fromUtf8(entry.data(), static_cast<qsizetype>(entry.size()));
}

void ListBoxEntries::append(const std::vector<std::string>& entries)
{
    if (entries.empty())
        return;
    const int first = rowCount();
    beginInsertRows(QModelIndex(), first, first + static_cast<int>(entries.size()) - 1);
    for (const std::string& entry : entries) {
        m_bytes += entry;
        m_ends.push_back(m_bytes.size());
    }
    endInsertRows();
}

void ListBoxEntries::clear()
{
    beginResetModel();
    std::string().swap(m_bytes);
    std::vector<std::size_t>().swap(m_ends);
    endResetModel();
}

std::string_view ListBoxEntries::bytes(int row) const
{
    const auto at = static_cast<std::size_t>(row);
    const std::size_t begin = at == 0 ? 0 : m_ends[at - 1];
    return std::string_view(m_bytes).substr(begin, m_ends[at] - begin);
}

} // namespace velmoran
