// The Windows layer under the file layer's contract, on a scratch folder of this system,
// with the command line recorder as the stand-in program and viewer.
#include "contract/FileLayer.h"
#include "platform/windows/WindowsDrives.h"
#include "platform/windows/WindowsFileSystem.h"
#include "platform/windows/WindowsProgramStarter.h"
#include "platform/windows/WindowsText.h"
#include "platform/windows/WindowsUrlViewer.h"
#include "support/ScratchFolder.h"

#include <chrono>
#include <sstream>
#include <thread>

namespace velmoran::testing {

namespace {

// The recorder's record beside it ("<program>.txt"), waiting up to 60 s when `wait`.
std::optional<std::string> record(const fs::path& program, const char* suffix, bool wait)
{
    fs::path file = program;
    file += suffix;
    for (int i = 0; wait && i < 1200 && !fs::exists(file); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return fs::exists(file) ? std::optional<std::string>(readFile(file)) : std::nullopt;
}

class WindowsLayer : public LayerUnderTest
{
public:
    explicit WindowsLayer(const fs::path& root) : m_root(root) {}
    ~WindowsLayer() override
    {
        for (const std::wstring& key : {m_extension, m_type})
            ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, (L"Software\\Classes\\" + key).c_str());
    }
    FileSystem& files() override { return m_files; }
    Drives& drives() override { return m_drives; }
    ProgramStarter& starter() override { return m_starter; }
    UrlViewer& viewer() override { return m_viewer; }

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
    std::optional<Started> started(const std::string& relative, bool wait) override
    {
        const std::optional<std::string> text = record(real(relative), ".txt", wait);
        if (!text)
            return std::nullopt;
        std::istringstream lines(*text);
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
    std::string viewableShortcut() override
    {
        // A file type of this test's own whose viewer is the recorder, for the machine
        // (Wine's file types have no per-user part).
        installProgram("viewer.exe");
        const std::wstring command = L"\"" + real("viewer.exe").wstring() + L"\" \"%1\"";
        for (const auto& [key, text] :
             {std::pair{m_extension, m_type}, {m_type + L"\\shell\\open\\command", command}}) {
            const std::wstring path = L"Software\\Classes\\" + key;
            const auto bytes = static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t));
            if (::RegSetKeyValueW(HKEY_LOCAL_MACHINE, path.c_str(), nullptr, REG_SZ, text.c_str(),
                                  bytes) != ERROR_SUCCESS)
                return "";
        }
        return "TEMP" + toUtf8(m_extension);
    }
    std::optional<std::string> viewed() override
    {
        // What the viewer read from the file it was handed, and how it was started.
        const auto started = record(real("viewer.exe"), ".txt", true);
        const auto input = record(real("viewer.exe"), ".input", false);
        return started && input ? std::optional(*input + *started) : std::nullopt;
    }
    std::string breakViewer() override { return "TEMP.velmoran-no-such-type"; }

private:
    fs::path m_root;
    WindowsFileSystem m_files;
    WindowsDrives m_drives;
    WindowsProgramStarter m_starter;
    WindowsUrlViewer m_viewer;
    std::wstring m_extension = L".velmoran" + std::to_wstring(::GetCurrentProcessId());
    std::wstring m_type = L"Velmoran.Test" + std::to_wstring(::GetCurrentProcessId());
};

} // namespace

std::vector<std::pair<std::string, LayerFactory>> layersUnderTest()
{
    return {{"Windows", [](const fs::path& root) { return std::make_unique<WindowsLayer>(root); }}};
}

} // namespace velmoran::testing
