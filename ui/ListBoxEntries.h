#pragma once

#include <QAbstractListModel>

#include <cstddef>
#include <string>
#include <vector>

namespace velmoran {

// The entries of a list box, kept as the bytes they were added as, in one buffer, each as
// the length of the start it shares with the entry before it and the rest of its bytes (the
// paths of a search share their folders); every RunLength-th entry is kept whole. An entry
// costs little more than what it adds to the one before, and its text is made only while the
// view draws or measures it. A name that is not UTF-8 comes back exactly as it was added.
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
    std::string bytes(int row) const;

private:
    static constexpr std::size_t RunLength = 16;

    std::string m_bytes;               // every entry, one after the other
    std::vector<std::size_t> m_starts; // where each entry starts in m_bytes
    std::string m_last;                // the last entry added
};

} // namespace velmoran
