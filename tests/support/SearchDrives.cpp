#include "support/SearchDrives.h"

#include "core/PathRules.h"

namespace fs = std::filesystem;

namespace velmoran::testing {

SearchDrives::SearchDrives(const fs::path& root) : m_root(root)
{
    fs::create_directories(prefix() / "dosdevices");
    addDrive('c');
}

void SearchDrives::addDrive(char letter) const
{
    fs::create_directories(drive(letter));
    fs::create_directory_symlink(drive(letter),
                                 prefix() / "dosdevices" / (std::string(1, letter) + ":"));
}

void SearchDrives::addMissingDrive(char letter) const
{
    fs::create_directory_symlink(m_root / ("no disk in " + std::string(1, letter)),
                                 prefix() / "dosdevices" / (std::string(1, letter) + ":"));
}

namespace {

void walk(FileSystem& files, std::string folder, const std::string& name, ReferenceWalk& out)
{
    folder = withTrailingSeparator(folder);
    std::vector<std::string> subfolders;
    const auto all = files.findFile(folder + "*.*", FindFilter::Folder);
    for (std::string entry = all->next(); !entry.empty(); entry = all->next()) {
        if (entry == "." || entry == "..")
            continue;
        if (files.fileAttributes(folder + entry) & Attribute::Directory) {
            subfolders.push_back(folder + entry);
            out.captions.push_back(std::to_string(subfolders.size()));
        }
    }
    const auto matches = files.findFile(folder + name, FindFilter::Ordinary);
    for (std::string entry = matches->next(); !entry.empty(); entry = matches->next())
        out.entries.push_back(folder + entry);
    for (const std::string& subfolder : subfolders)
        walk(files, subfolder, name, out);
}

} // namespace

ReferenceWalk referenceWalk(FileSystem& files, const std::string& folder, const std::string& name)
{
    ReferenceWalk out;
    walk(files, folder, name, out);
    return out;
}

} // namespace velmoran::testing
