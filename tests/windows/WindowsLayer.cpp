// The Windows layer under the contract, with the command line recorder as stand-in program.
#include "contract/FileLayer.h"
#include "platform/windows/WindowsFileSystem.h"
#include "platform/windows/WindowsProgramStarter.h"
#include "platform/windows/WindowsText.h"
#include "support/ScratchFolder.h"

#include <chrono>
#include <sstream>
#include <thread>

namespace fs = std::filesystem;

namespace velmoran::testing {

namespace {

class WindowsLayer : public LayerUnderTest
{
public:
    explicit WindowsLayer(const fs::path& root) : m_root(root) {}
    FileSystem& files() override { return m_files; }
    ProgramStarter& starter() override { return m_starter; }

    fs::path real(const std::string& relative) const override { return m_root / toWide(relative); }
    std::string at(const std::string& relative) const override
    {
        std::string path = toUtf8((m_root / toWide(relative)).wstring());
        std::replace(path.begin(), path.end(), '/', '\\');
        return path;
    }
    void store(const std::string& relative, unsigned attributes) override
    {
        ::SetFileAttributesW(real(relative).wstring().c_str(), attributes);
    }
    bool folderLink(const std::string& link, const std::string& target) override
    {
        constexpr DWORD AllowUnprivileged = 0x2; // SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE
        if (!::CreateSymbolicLinkW(real(link).wstring().c_str(), real(target).wstring().c_str(),
                                   SYMBOLIC_LINK_FLAG_DIRECTORY | AllowUnprivileged))
            return false;
        // Some systems (Wine 8) answer success without making anything.
        const DWORD attributes = ::GetFileAttributesW(real(link).wstring().c_str());
        return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
    }
    std::string ansi(const std::string& text) const override
    {
        const std::wstring wide = toWide(text);
        std::string out(wide.size() * 4, '\0');
        out.resize(static_cast<std::size_t>(
            ::WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), out.data(),
                                  static_cast<int>(out.size()), nullptr, nullptr)));
        return out;
    }
    void installProgram(const std::string& relative) override
    {
        std::wstring self(32768, L'\0'); // the recorder, beside this program
        self.resize(::GetModuleFileNameW(nullptr, self.data(), static_cast<DWORD>(self.size())));
        fs::create_directories(real(relative).parent_path());
        fs::copy_file(fs::path(self).parent_path() / VELMORAN_RECORDER, real(relative));
    }
    // The recorder's record beside it ("<program>.txt"), waiting up to 60 s when `wait`.
    std::optional<Started> started(const std::string& relative, bool wait) override
    {
        fs::path file = real(relative);
        file += ".txt";
        for (int i = 0; wait && i < 1200 && !fs::exists(file); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        if (!fs::exists(file))
            return std::nullopt;
        std::istringstream lines(readFile(file));
        std::string commandLine, folder;
        std::getline(lines, commandLine);
        std::getline(lines, folder);
        Started s{commandLine, {}, fs::path(toWide(folder))};
        for (std::string line; std::getline(lines, line);)
            s.arguments.push_back(line);
        // The program's path is quoted, so that nothing else can be taken for it.
        if (commandLine.rfind("\"" + at(relative) + "\"", 0) != 0)
            s.arguments.insert(s.arguments.begin(), "unquoted: " + commandLine);
        return s;
    }

private:
    fs::path m_root;
    WindowsFileSystem m_files;
    WindowsProgramStarter m_starter;
};

} // namespace

std::vector<std::pair<std::string, LayerFactory>> layersUnderTest()
{
    return {{"Windows", [](const fs::path& root) { return std::make_unique<WindowsLayer>(root); }}};
}

} // namespace velmoran::testing
