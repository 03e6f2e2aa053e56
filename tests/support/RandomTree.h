// Random folder trees for the walk's tests, wide and deep, with matches in any case and near
// misses, hidden folders and files, and relative links to folders made before, after or above
// (loops), so that the tree reads alike wherever it is mounted.
#pragma once

#include "support/ScratchFolder.h"

#include <algorithm>
#include <functional>
#include <random>
#include <string>
#include <system_error>
#include <vector>

namespace velmoran::testing {

// Fills the new folder root with about `size` files, folders and links; `hide` is given the
// folders and files to hide.
inline void makeRandomTree(const fs::path& root, unsigned seed, std::size_t size,
                           const std::function<void(const fs::path&)>& hide)
{
    const char* names[] = {"patch_d2.mpq",  "PATCH_D2.MPQ", "Patch_D2.mpq", "patch_d2.mpq.bak",
                           "xpatch_d2.mpq", "patch_d2",     "save",         "Mods",
                           "mods",          "x y"};
    std::mt19937 random(seed);
    std::vector<fs::path> folders{root};
    fs::create_directories(root);
    // Deep chains and wide folders: a new folder mostly goes into one of the last few.
    for (std::size_t i = 1; i < size; ++i) {
        const std::size_t from =
            random() % 3 ? folders.size() - 1 - random() % std::min<std::size_t>(folders.size(), 4)
                         : 0;
        const fs::path& parent = folders[from + random() % (folders.size() - from)];
        const std::string name = names[random() % std::size(names)];
        switch (random() % 8) {
        case 0:
            writeFile(parent / name, name);
            break;
        case 1: {
            std::error_code noLinks; // where the system makes links
            fs::create_directory_symlink(
                folders[random() % folders.size()].lexically_relative(parent),
                parent / ("link" + std::to_string(i)), noLinks);
            break;
        }
        default:
            folders.push_back(parent / (name + std::to_string(i % 5)));
            fs::create_directories(folders.back());
        }
    }
    for (std::size_t i = 1; i < folders.size(); i += 1 + random() % 40) {
        const fs::path hidden = i % 2 ? folders[i] : folders[i] / "patch_d2.mpq";
        if (fs::exists(hidden))
            hide(hidden);
    }
}

} // namespace velmoran::testing
