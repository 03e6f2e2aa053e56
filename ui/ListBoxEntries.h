#pragma once

#include <QAbstractListModel>

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace velmoran {

// The entries of a list box, kept as the bytes they were added as, back to back in one
// buffer: an entry costs its bytes and one offset, and its text is made only while the view
// draws or measures it. A name that is not UTF-8 thus comes back exactly as it was added.
class ListBoxEntries : public QAbstractListModel
{
public:
    explicit ListBoxEntries(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

    // Adds the entries at the end, in one insertion.
    void append(const std::vector<std::string>& entries);
    // Removes every entry and hands back the memory they held.
    void clear();
    // The bytes of the entry at row, which must be one (0 <= row < rowCount()).
    std::string_view bytes(int row) const;

private:
    std::string m_bytes;             // every entry, one after the other
    std::vector<std::size_t> m_ends; // where each entry ends in m_bytes
};

} // namespace velmoran
