// Folder entries and paths as all of the Linux file layer sees them: dot entries, what
// counts as a folder, patterns split and paths joined, and the order a folder is listed in.
#pragma once

#include <algorithm>
#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace velmoran {

// A pattern split at its last separator: the folder and the last component.
struct SplitPattern
{
    std::string folder;
    std::string last;
};

SplitPattern splitPattern(const std::string& pattern);

std::string joinPath(const std::string& folder, const char* name);

inline bool isDotOrDotDot(const char* name)
{
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

// Whether a directory entry is a folder; links count as what they lead to, as under Wine.
bool isFolderEntry(unsigned char type, const std::string& fullPath);

// The sort key of a name in NTFS's order, the order in which Windows (and Wine, which
// sorts to imitate it) lists a folder: without regard to case, capitals first (so "_"
// comes after letters), then byte by byte for names that differ only in case.
std::string orderKey(std::string_view name);

// Sorts names (and the values that go with them) into listing order; "." and ".." first.
template <typename Value>
void sortForListing(std::vector<std::string>& names, std::vector<Value>* values)
{
    if (names.size() < 2)
        return;
    struct Item
    {
        std::string key;
        std::size_t index;
    };
    std::vector<Item> items;
    items.reserve(names.size());
    for (std::size_t i = 0; i < names.size(); ++i) {
        const std::string& name = names[i];
        items.push_back({name == "."    ? std::string()
                         : name == ".." ? std::string(1, '\0')
                                        : orderKey(name),
                         i});
    }
    std::sort(items.begin(), items.end(), [&](const Item& a, const Item& b) {
        if (a.key != b.key)
            return a.key < b.key;
        return names[a.index] < names[b.index];
    });
    std::vector<std::string> sortedNames;
    sortedNames.reserve(names.size());
    std::vector<Value> sortedValues;
    for (const Item& item : items) {
        sortedNames.push_back(std::move(names[item.index]));
        if (values)
            sortedValues.push_back((*values)[item.index]);
    }
    names = std::move(sortedNames);
    if (values)
        *values = std::move(sortedValues);
}

// The folder that holds path (or the path itself) without links, for comparing folders.
std::filesystem::path resolvedPath(const std::filesystem::path& path);

// Whether inner is outer or lies below it.
bool isInside(const std::filesystem::path& inner, const std::filesystem::path& outer);

} // namespace velmoran
