#include "platform/PlatformServices.h"

#include "platform/windows/WindowsDrives.h"
#include "platform/windows/WindowsFileSystem.h"
#include "platform/windows/WindowsProgramStarter.h"
#include "platform/windows/WindowsRegistryReader.h"
#include "platform/windows/WindowsText.h"
#include "platform/windows/WindowsUrlViewer.h"

namespace velmoran {

namespace {

std::string withoutTrailingSeparator(std::wstring path)
{
    while (path.size() > 3 && (path.back() == L'\\' || path.back() == L'/'))
        path.pop_back();
    return toUtf8(path);
}

std::string applicationFolder()
{
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0)
            return ".";
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        path.resize(path.size() * 2);
    }
    const std::size_t slash = path.find_last_of(L"\\/");
    return withoutTrailingSeparator(slash == std::wstring::npos ? L"." : path.substr(0, slash));
}

std::string temporaryFolder()
{
    wchar_t path[MAX_PATH + 2] = {};
    const DWORD length = ::GetTempPathW(MAX_PATH + 2, path);
    return withoutTrailingSeparator(length ? std::wstring(path, length) : L"C:\\Windows\\Temp");
}

class WindowsPlatformServices : public PlatformServices
{
public:
    WindowsPlatformServices()
        : m_platform{m_files,  m_registry,          m_starter,        m_drives,
                     m_viewer, applicationFolder(), temporaryFolder()}
    {
    }

    Platform& platform() override { return m_platform; }

private:
    WindowsFileSystem m_files;
    WindowsRegistryReader m_registry;
    WindowsProgramStarter m_starter;
    WindowsDrives m_drives;
    WindowsUrlViewer m_viewer;
    Platform m_platform;
};

} // namespace

std::unique_ptr<PlatformServices> createPlatformServices()
{
    return std::make_unique<WindowsPlatformServices>();
}

} // namespace velmoran
