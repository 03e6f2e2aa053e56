#pragma once

// What every launcher's prefix lookup shares: folder listings, launcher files read whole up to
// a size limit, YAML values, and the list that counts each prefix once.
#include "platform/linux/WinePrefixSearch.h"

#include <yaml-cpp/yaml.h>

#include <filesystem>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

namespace velmoran {

// The entries of a folder, in name order; nothing when it is missing (a note when it cannot
// be read).
std::vector<std::filesystem::path> folderEntries(const std::filesystem::path& folder,
                                                 std::vector<std::string>& passedOver);

// A regular file's bytes when it is at most maxSize long; else nothing, and a note saying why
// (a missing file only when noteMissing).
std::optional<std::string> readLauncherFile(const std::filesystem::path& file, std::size_t maxSize,
                                            std::vector<std::string>& passedOver,
                                            bool noteMissing = true);

// A YAML file, parsed; nothing (and a note) when it cannot be read or parsed.
std::optional<YAML::Node> loadYaml(const std::filesystem::path& file,
                                   std::vector<std::string>& passedOver, bool noteMissing = true);

// The text at a path of mapping keys, when it is a non-empty scalar.
std::optional<std::string> scalarAt(const YAML::Node& document,
                                    std::initializer_list<const char*> keys);

// A name as a single folder name, never a way out of its folder.
bool plainName(const std::string& name);

// "~" and "~/..." in a launcher's file, in the user's home.
std::filesystem::path expandHome(const std::string& path, const std::filesystem::path& home);

// The prefixes found, each folder once whatever path led to it.
class PrefixCollector
{
public:
    explicit PrefixCollector(PrefixSearch& search) : m_search(search) {}

    // A prefix found again keeps its first origin; it takes this start when its first knew
    // nothing of its launcher, and adds this one's Wines to a Wine start's.
    void add(const std::filesystem::path& root, const std::string& origin, PrefixStart start);

    PrefixSearch& search() { return m_search; }
    std::vector<std::string>& searched() { return m_search.searched; }
    std::vector<std::string>& passedOver() { return m_search.passedOver; }

private:
    PrefixSearch& m_search;
    // Each found prefix's device and inode (0, 0: could not be read), in the same order.
    std::vector<std::pair<unsigned long, unsigned long>> m_identities;
};

} // namespace velmoran
