#include "ui/ListBoxEntries.h"

namespace velmoran {

namespace {

// Numbers in the buffer: seven bits a byte, the low ones first, the top bit set in every
// byte but the last.
void putNumber(std::string& to, std::size_t number)
{
    for (; number >= 0x80; number >>= 7)
        to += static_cast<char>(0x80 | (number & 0x7F));
    to += static_cast<char>(number);
}

std::size_t takeNumber(const std::string& from, std::size_t& at)
{
    std::size_t number = 0;
    for (int shift = 0;; shift += 7) {
        const auto byte = static_cast<unsigned char>(from[at++]);
        number |= static_cast<std::size_t>(byte & 0x7F) << shift;
        if (byte < 0x80)
            return number;
    }
}

} // namespace

ListBoxEntries::ListBoxEntries(QObject* parent) : QAbstractListModel(parent) {}

int ListBoxEntries::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_starts.size());
}

QVariant ListBoxEntries::data(const QModelIndex& index, int role) const
{
    if (role != Qt::DisplayRole || !checkIndex(index, CheckIndexOption::IndexIsValid))
        return {};
    const std::string entry = bytes(index.row());
    return QString::fromUtf8(entry.data(), static_cast<qsizetype>(entry.size()));
}

void ListBoxEntries::append(const std::vector<std::string>& entries)
{
    if (entries.empty())
        return;
    const int first = rowCount();
    beginInsertRows(QModelIndex(), first, first + static_cast<int>(entries.size()) - 1);
    for (const std::string& entry : entries) {
        std::size_t shared = 0;
        if (m_starts.size() % RunLength != 0)
            while (shared < entry.size() && shared < m_last.size() &&
                   entry[shared] == m_last[shared])
                ++shared;
        m_starts.push_back(m_bytes.size());
        putNumber(m_bytes, shared);
        putNumber(m_bytes, entry.size() - shared);
        m_bytes.append(entry, shared);
        m_last = entry;
    }
    endInsertRows();
}

void ListBoxEntries::clear()
{
    beginResetModel();
    std::string().swap(m_bytes);
    std::vector<std::size_t>().swap(m_starts);
    std::string().swap(m_last);
    endResetModel();
}

std::string ListBoxEntries::bytes(int row) const
{
    std::string entry;
    const auto last = static_cast<std::size_t>(row);
    for (std::size_t at = last - last % RunLength; at <= last; ++at) {
        std::size_t from = m_starts[at];
        const std::size_t shared = takeNumber(m_bytes, from);
        const std::size_t rest = takeNumber(m_bytes, from);
        entry.resize(shared);
        entry.append(m_bytes, from, rest);
    }
    return entry;
}

} // namespace velmoran
