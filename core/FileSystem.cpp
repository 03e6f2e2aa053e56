#include "core/FileSystem.h"

#include <utility>

namespace velmoran {

namespace {

class PlainScanner : public FolderScanner
{
public:
    PlainScanner(FileSystem& files, std::string name) : m_files(files), m_name(std::move(name)) {}

    void scan(const std::string& folder, const FolderId&, FolderScan& result) override
    {
        m_files.scanFolder(folder, m_name, result);
    }

private:
    FileSystem& m_files;
    const std::string m_name;
};

} // namespace

std::unique_ptr<FolderScanner> FileSystem::folderScanner(const std::string& name)
{
    return std::make_unique<PlainScanner>(*this, name);
}

std::string findFirst(FileSystem& files, const std::string& pattern, FindFilter filter)
{
    return files.findFile(pattern, filter)->next();
}

} // namespace velmoran
