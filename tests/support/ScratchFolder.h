#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace velmoran::testing {

// A fresh temporary folder, removed with all it holds when the object goes.
class ScratchFolder
{
public:
    explicit ScratchFolder(std::string_view tag = "velmoran");
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::filesystem::path& path() const { return m_path; }
    std::filesystem::path operator/(const std::filesystem::path& p) const { return m_path / p; }

private:
    std::filesystem::path m_path;
};

void writeFile(const std::filesystem::path& path, std::string_view bytes); // and its folders
std::string readFile(const std::filesystem::path& path);

} // namespace velmoran::testing
