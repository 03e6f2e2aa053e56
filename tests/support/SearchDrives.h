#pragma once

#include "core/FileSystem.h"

#include <filesystem>
#include <string>
#include <vector>

namespace velmoran::testing {

// A Wine prefix whose drives are scratch folders that a test fills:
//   <root>/prefix/dosdevices/c: -> <root>/c   (and every letter given to addDrive)
//   addMissingDrive: a link to a folder that does not exist, like a drive with no disk.
class SearchDrives
{
public:
    explicit SearchDrives(const std::filesystem::path& root);

    std::filesystem::path prefix() const { return m_root / "prefix"; }
    std::filesystem::path drive(char letter) const { return m_root / std::string(1, letter); }
    void addDrive(char letter) const;
    void addMissingDrive(char letter) const;

private:
    std::filesystem::path m_root;
};

// What the search is designed to give, computed the long way with the ordinary listing
// operations (one listing of every name with the folder filter, the attributes of each,
// then one listing by the exact name with the ordinary filter), for trees without links.
struct ReferenceWalk
{
    std::vector<std::string> entries;
    std::vector<std::string> captions; // every caption set, in order
};
ReferenceWalk referenceWalk(FileSystem& files, const std::string& folder, const std::string& name);

} // namespace velmoran::testing
