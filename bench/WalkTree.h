#pragma once

// A deterministic tree shaped like a real drive, for the walk benchmarks: wide and deep
// folders, dot-folders that every tool skips, matches in several capitalisations, a folder
// named like the archive, a link that leads back up the tree and a folder that only its
// owner (root) can read.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace velmoran::bench {

struct WalkTree
{
    long entries = 0; // every name made below the root
    long folders = 0;
    long visibleEntries = 0; // outside dot-folders and the locked folder
    // The matches a walk that skips dot-folders and cannot read the locked folder finds,
    // relative to the root with "/" between names, sorted.
    std::vector<std::string> expected;
    std::filesystem::path locked;
};

class WalkTreeMaker
{
public:
    WalkTreeMaker(std::filesystem::path root, long budget)
        : m_root(std::move(root)), m_budget(budget)
    {
    }

    WalkTree make()
    {
        std::filesystem::create_directories(m_root);
        ::chmod(m_root.c_str(), 0755);
        // A very wide folder, a very deep one, a hidden cache, a locked folder, a loop.
        folder("", "Wide", true);
        for (int i = 0; i < 5000 && room(); ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "w%05d", i);
            folder("Wide", name, true);
            file(std::string("Wide/") + name, "thumbs.db", true);
        }
        std::string deep = "Deep";
        folder("", deep, true);
        for (int i = 0; i < 60; ++i) {
            const std::string name = "level " + std::to_string(i);
            folder(deep, name, true);
            deep += "/" + name;
        }
        file(deep, "Patch_D2.mpq", true);
        folder("", ".cache", false);
        grow(".cache", 2, false, 20000);
        folder("", "Users", true);
        folder("Users", "Locked", true);
        m_tree.locked = m_root / "Users" / "Locked";
        grow("Users/Locked", 3, false, 5000);
        folder("", "Games", true);
        file("Games", "patch_d2.mpq", true);
        folder("Games", "Mods", true);
        folder("Games/Mods", "patch_d2.mpq", true); // a folder of that name: entered, not listed
        file("Games/Mods/patch_d2.mpq", "PATCH_D2.MPQ", true);
        // Back up to the root: a loop for whoever follows links.
        std::filesystem::create_directory_symlink("../../..",
                                                  m_root / "Games/Mods/patch_d2.mpq/up");
        ++m_tree.entries;
        // The rest: ordinary data, until the budget is spent.
        for (int top = 0; room(); ++top) {
            char name[32];
            std::snprintf(name, sizeof name, "Data %02d", top);
            folder("", name, true);
            grow(name, 1, true, m_budget);
        }
        ::chmod(m_tree.locked.c_str(), 0700);
        std::sort(m_tree.expected.begin(), m_tree.expected.end());
        return m_tree;
    }

private:
    bool room() const { return m_tree.entries < m_budget; }

    std::uint32_t random()
    {
        m_state ^= m_state << 13;
        m_state ^= m_state >> 17;
        m_state ^= m_state << 5;
        return m_state;
    }

    void folder(const std::string& parent, const std::string& name, bool visible)
    {
        const std::string path = parent.empty() ? name : parent + "/" + name;
        if (::mkdir((m_root / path).c_str(), 0755) != 0)
            return; // a name drawn twice
        ++m_tree.entries;
        ++m_tree.folders;
        m_tree.visibleEntries += visible;
    }

    void file(const std::string& parent, const std::string& name, bool visible)
    {
        const std::string path = parent.empty() ? name : parent + "/" + name;
        if (::mknod((m_root / path).c_str(), S_IFREG | 0644, 0) != 0)
            return; // a name drawn twice
        ++m_tree.entries;
        m_tree.visibleEntries += visible;
        std::string folded = name;
        for (char& c : folded)
            c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
        if (visible && folded == "patch_d2.mpq")
            m_tree.expected.push_back(path);
    }

    // A random subtree below parent, until `limit` entries have been made in all.
    void grow(const std::string& parent, int depth, bool visible, long limit)
    {
        const long stop = std::min(limit + (visible ? 0 : m_tree.entries), m_budget);
        growLevel(parent, depth, visible, stop);
    }

    void growLevel(const std::string& parent, int depth, bool visible, long stop)
    {
        if (m_tree.entries >= stop)
            return;
        const int files = static_cast<int>(random() % 24);
        for (int i = 0; i < files && m_tree.entries < stop; ++i) {
            const std::uint32_t r = random();
            if (r % 150 == 0) {
                static const char* spellings[] = {"patch_d2.mpq", "PATCH_D2.MPQ", "Patch_D2.mpq"};
                file(parent, spellings[r / 150 % 3], visible);
            } else {
                char name[32];
                static const char* kinds[] = {".dat", ".txt", ".dll", ".mpq", ".ini", ".png"};
                std::snprintf(name, sizeof name, "file %u%s", r % 100000, kinds[r / 7 % 6]);
                file(parent, name, visible);
            }
        }
        const std::uint32_t r = random();
        const int subfolders = depth < 2    ? 8 + static_cast<int>(r % 8)
                               : depth < 5  ? static_cast<int>(r % 7)
                               : depth < 12 ? static_cast<int>(r % 4)
                                            : 0;
        for (int i = 0; i < subfolders && m_tree.entries < stop; ++i) {
            const std::uint32_t s = random();
            const bool dotted = s % 40 == 0;
            char name[32];
            std::snprintf(name, sizeof name, dotted ? ".folder %u" : "Folder %u", s % 1000000);
            folder(parent, name, visible && !dotted);
            growLevel(parent + "/" + name, depth + 1, visible && !dotted, stop);
        }
    }

    std::filesystem::path m_root;
    long m_budget;
    WalkTree m_tree;
    std::uint32_t m_state = 0x5eed1234u;
};

} // namespace velmoran::bench
