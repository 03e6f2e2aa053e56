// The walk's table of the folders it has met, by identity: how a folder reached a second
// time through a link is known, so that it is not walked again.
#pragma once

#include "core/FileSystem.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace velmoran {

// The identities of the folders met so far, in one flat table (open addressing, linear
// probing): 16 bytes a slot, at most half of the slots in use. A zero identity (the
// platform cannot tell) is never stored, so such folders are always walked.
class FolderIdSet
{
public:
    // False when the identity was there already.
    bool insert(const FolderId& id)
    {
        if (id == FolderId{})
            return true;
        if ((m_used + 1) * 2 > m_slots.size())
            grow();
        if (!place(m_slots, id))
            return false;
        ++m_used;
        return true;
    }

private:
    static std::size_t hash(const FolderId& id)
    {
        std::uint64_t h = id.inode * 0x9E3779B97F4A7C15ull ^ (id.device + 0x632BE59BD9B4E019ull);
        h ^= h >> 29;
        h *= 0xBF58476D1CE4E5B9ull;
        h ^= h >> 32;
        return static_cast<std::size_t>(h);
    }

    static bool place(std::vector<FolderId>& slots, const FolderId& id)
    {
        const std::size_t mask = slots.size() - 1;
        for (std::size_t i = hash(id) & mask;; i = (i + 1) & mask) {
            if (slots[i] == FolderId{}) {
                slots[i] = id;
                return true;
            }
            if (slots[i] == id)
                return false;
        }
    }

    void grow()
    {
        std::vector<FolderId> bigger(m_slots.empty() ? 1024 : m_slots.size() * 2);
        for (const FolderId& id : m_slots)
            if (!(id == FolderId{}))
                place(bigger, id);
        m_slots.swap(bigger);
    }

    std::vector<FolderId> m_slots;
    std::size_t m_used = 0;
};

} // namespace velmoran
