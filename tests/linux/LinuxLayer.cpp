// The Linux layer under the contract: a Wine prefix whose d: is the scratch folder, stand-in
// wine and xdg-open.
#include "contract/FileLayer.h"
#include "platform/linux/LinuxDrives.h"
#include "platform/linux/LinuxFileSystem.h"
#include "platform/linux/WineProgramStarter.h"
#include "platform/linux/XdgUrlViewer.h"
#include "support/ScratchFolder.h"
#include "support/StandIns.h"

#include <algorithm>
#include <sys/stat.h>
#include <sys/xattr.h>

namespace velmoran::testing {

namespace {

class LinuxLayer : public LayerUnderTest
{
public:
    explicit LinuxLayer(const fs::path& root)
        : m_root(root),
          m_prefix((fs::create_directories(root / "prefix" / "dosdevices"), root / "prefix")),
          m_files(m_prefix), m_drives(m_prefix), m_starter(m_prefix), m_viewer(m_prefix),
          m_programs(root / "stand-ins")
    {
        fs::create_directories(root / "d");
        fs::create_directories(root / "prefix" / "drive_c");
        fs::create_directory_symlink("../drive_c", root / "prefix" / "dosdevices" / "c:");
        fs::create_directory_symlink(root / "d", root / "prefix" / "dosdevices" / "d:");
        fs::create_directory_symlink("/", root / "prefix" / "dosdevices" / "z:");
    }
    FileSystem& files() override { return m_files; }
    Drives& drives() override { return m_drives; }
    ProgramStarter& starter() override { return m_starter; }
    UrlViewer& viewer() override { return m_viewer; }

    fs::path real(const std::string& relative) const override { return m_root / "d" / relative; }
    std::string at(const std::string& relative) const override
    {
        std::string path = "d:\\" + relative;
        std::replace(path.begin(), path.end(), '/', '\\');
        return path;
    }
    void store(const std::string& relative, unsigned attributes) override
    {
        const std::string value = "0x" + std::to_string(attributes & ~Attribute::ReadOnly);
        ::setxattr(real(relative).c_str(), "user.DOSATTRIB", value.data(), value.size(), 0);
        if (attributes & Attribute::ReadOnly)
            ::chmod(real(relative).c_str(), 0444);
    }
    bool folderLink(const std::string& link, const std::string& target) override
    {
        fs::create_directory_symlink(real(target), real(link));
        return true;
    }
    std::string ansi(const std::string& text) const override
    {
        return text.substr(0, text.size() - 2) + "\xE9"; // caf\xC3\xA9 in code page 1252
    }
    void installProgram(const std::string& relative) override { writeFile(real(relative), "MZ"); }
    std::optional<Started> started(const std::string& relative, bool wait) override
    {
        for (const auto& run : m_programs.waitFor("wine", wait ? 1 : 0)) {
            Started s; // the first argument is the program
            for (const std::string& line : run)
                if (line.starts_with("cwd="))
                    s.folder = line.substr(4);
                else if (line.starts_with("arg="))
                    (s.program.empty() ? s.program : s.arguments.emplace_back()) = line.substr(4);
            if (s.program == at(relative))
                return s;
        }
        return std::nullopt;
    }
    std::string viewableShortcut() override { return "TEMP.URL"; }
    std::optional<std::string> viewed() override
    {
        const auto runs = m_programs.waitFor("xdg-open", 1);
        if (runs.empty())
            return std::nullopt;
        std::string text;
        for (const std::string& line : runs[0])
            text += line + "\n";
        return text;
    }
    std::string breakViewer() override
    {
        m_noOpener.emplace("PATH", (m_root / "empty").string());
        return "TEMP.URL";
    }

private:
    fs::path m_root;
    WinePrefix m_prefix;
    LinuxFileSystem m_files;
    LinuxDrives m_drives;
    WineProgramStarter m_starter;
    XdgUrlViewer m_viewer;
    StandInPrograms m_programs;
    std::optional<ScopedVariable> m_noOpener;
};

} // namespace

std::vector<std::pair<std::string, LayerFactory>> layersUnderTest()
{
    return {{"WinePrefixOnLinux",
             [](const fs::path& root) { return std::make_unique<LinuxLayer>(root); }}};
}

} // namespace velmoran::testing
