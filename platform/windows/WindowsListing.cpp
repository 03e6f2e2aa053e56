// The listing behind the find-file and find-next calls: FindFirstFileExW's own, with the
// hidden, system and folder filters applied to what it gives.
#include "platform/windows/WindowsFileSystem.h"

#include "core/OperationError.h"
#include "platform/windows/WindowsFolderEntries.h"
#include "platform/windows/WindowsText.h"

namespace velmoran {

namespace {

bool accepts(const WIN32_FIND_DATAW& entry, FindFilter filter)
{
    const DWORD a = entry.dwFileAttributes;
    const bool folder = a & FILE_ATTRIBUTE_DIRECTORY;
    const bool hidden = a & FILE_ATTRIBUTE_HIDDEN;
    const bool system = a & FILE_ATTRIBUTE_SYSTEM;
    switch (filter) {
    case FindFilter::Ordinary:
        return !folder && !hidden && !system;
    case FindFilter::Hidden:
        return !folder && !system;
    case FindFilter::Folder:
        return (folder && isDotEntry(entry.cFileName)) || (!hidden && !system);
    }
    return false;
}

class WindowsListing : public Listing
{
public:
    WindowsListing(std::string pattern, FindFilter filter)
        : m_pattern(std::move(pattern)), m_filter(filter)
    {
        DWORD error = ERROR_SUCCESS;
        m_hasEntry = m_find.open(filePath(m_pattern), m_data, error);
        // A missing folder or no match is an empty listing; anything else (a drive that
        // is not ready, a folder that cannot be read) is a failure.
        if (!m_hasEntry && !nothingThere(error))
            fail("list", {m_pattern}, error);
    }

    std::string next() override
    {
        if (m_ended)
            throw OperationError("continue the listing", {m_pattern},
                                 "the listing has already ended");
        for (;;) {
            if (m_advance) {
                m_advance = false;
                m_hasEntry = m_find.next(m_data, "list", m_pattern);
            }
            if (!m_hasEntry) {
                m_ended = true;
                return {};
            }
            m_advance = true;
            if (accepts(m_data, m_filter))
                return toUtf8(m_data.cFileName);
        }
    }

private:
    std::string m_pattern;
    FindFilter m_filter;
    FindHandle m_find;
    WIN32_FIND_DATAW m_data{};
    bool m_hasEntry = false;
    bool m_advance = false;
    bool m_ended = false;
};

} // namespace

std::unique_ptr<Listing> WindowsFileSystem::findFile(const std::string& pattern, FindFilter filter)
{
    return std::make_unique<WindowsListing>(pattern, filter);
}

} // namespace velmoran
