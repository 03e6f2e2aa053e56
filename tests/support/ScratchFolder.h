#pragma once

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>

namespace velmoran::testing {

namespace fs = std::filesystem;

// A fresh temporary folder, removed with all it holds when the object goes.
class ScratchFolder
{
public:
    explicit ScratchFolder(std::string_view tag = "velmoran")
        : m_path(fs::temp_directory_path() /
                 (std::string(tag) + "-" + std::to_string(std::random_device()())))
    {
        if (!fs::create_directory(m_path)) // a name no folder has yet
            throw std::runtime_error("cannot create the scratch folder " + m_path.string());
    }
    ~ScratchFolder()
    {
        // Everything writable again first, for tests that took write bits away (a read-only
        // file cannot be deleted on Windows); links are left alone, they may lead outside.
        std::error_code ec, ignored;
        for (auto it = fs::recursive_directory_iterator(m_path, ec);
             !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
            if (!it->is_symlink(ignored))
                fs::permissions(it->path(),
                                it->is_directory(ignored) ? fs::perms::owner_all
                                                          : fs::perms::owner_write,
                                fs::perm_options::add, ignored);
        fs::remove_all(m_path, ec);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const fs::path& path() const { return m_path; }
    fs::path operator/(const fs::path& p) const { return m_path / p; }

private:
    fs::path m_path;
};

// Writes a file whole, and its folders.
inline void writeFile(const fs::path& path, std::string_view bytes)
{
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out.write(bytes.data(), static_cast<std::streamsize>(bytes.size())))
        throw std::runtime_error("cannot write " + path.string());
}

inline std::string readFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    if (!in)
        throw std::runtime_error("cannot read " + path.string());
    return bytes.str();
}

} // namespace velmoran::testing
