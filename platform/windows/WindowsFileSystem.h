#pragma once

#include "core/FileSystem.h"

namespace velmoran {

// The file operations with Win32's own semantics, through the wide-character API. The file
// operations are in WindowsFileSystem.cpp, findFile in WindowsListing.cpp, copyFolderTree in
// WindowsTreeCopy.cpp and scanFolder in WindowsFolderScan.cpp.
class WindowsFileSystem : public FileSystem
{
public:
    void copyFile(const std::string& source, const std::string& destination) override;
    bool moveFile(const std::string& source, const std::string& destination) override;
    void deleteFiles(const std::string& pattern) override;
    void makeFolder(const std::string& path) override;
    void removeFolder(const std::string& path) override;
    void setAttributes(const std::string& path, unsigned value) override;
    unsigned fileAttributes(const std::string& path) override;
    std::unique_ptr<Listing> findFile(const std::string& pattern, FindFilter filter) override;
    void copyFolderTree(const std::string& source, const std::string& destination) override;
    void writeTextFile(const std::string& path, const std::vector<std::string>& lines) override;
    bool sameContents(const std::string& first, const std::string& second) override;
    void scanFolder(const std::string& folder, const std::string& name,
                    FolderScan& result) override;

private:
    // A file's identity on its volume: the same for every path that reaches it.
    struct FileIdentity
    {
        unsigned long volume = 0;
        unsigned long long index = 0;
        friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
    };
    // copyFolderTree below the folders in `ancestors`, which a folder link must not lead
    // back to.
    void copyTree(const std::string& source, const std::string& destination,
                  std::vector<FileIdentity>& ancestors);
};

} // namespace velmoran
