#include "platform/windows/WindowsDrives.h"

#include "core/OperationError.h"
#include "platform/windows/WindowsText.h"

#include <cwctype>

namespace velmoran {

namespace {

// Asks the drive without the system's "no disk" dialog: an empty drive answers at once
// with an error instead.
class QuietErrors
{
public:
    QuietErrors() { ::SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &m_old); }
    ~QuietErrors() { ::SetThreadErrorMode(m_old, nullptr); }
    QuietErrors(const QuietErrors&) = delete;
    QuietErrors& operator=(const QuietErrors&) = delete;

private:
    DWORD m_old = 0;
};

// "c:", or "c: [label]" for a local fixed drive that has a volume label.
std::string driveName(const std::wstring& root)
{
    std::wstring name{static_cast<wchar_t>(std::towlower(root[0])), L':'};
    const UINT type = ::GetDriveTypeW(root.c_str());
    if (type == DRIVE_FIXED || type == DRIVE_RAMDISK) {
        wchar_t label[MAX_PATH + 1] = {};
        if (::GetVolumeInformationW(root.c_str(), label, MAX_PATH + 1, nullptr, nullptr, nullptr,
                                    nullptr, 0) &&
            label[0] != L'\0')
            name += std::wstring(L" [") + label + L"]";
    }
    return toUtf8(name);
}

} // namespace

std::vector<std::string> WindowsDrives::driveNames()
{
    QuietErrors quiet;
    std::wstring buffer(256, L'\0');
    DWORD length = ::GetLogicalDriveStringsW(static_cast<DWORD>(buffer.size()), buffer.data());
    if (length > buffer.size()) {
        buffer.assign(length + 1, L'\0');
        length = ::GetLogicalDriveStringsW(static_cast<DWORD>(buffer.size()), buffer.data());
    }
    if (length == 0)
        throw OperationError("list the drives", {}, systemReason(::GetLastError()));
    std::vector<std::string> names;
    for (const wchar_t* root = buffer.c_str(); *root; root += std::wcslen(root) + 1)
        if (std::iswalpha(root[0]) && root[1] == L':')
            names.push_back(driveName(root));
    return names;
}

std::string WindowsDrives::currentDrive()
{
    wchar_t folder[MAX_PATH + 1] = {};
    const DWORD length = ::GetCurrentDirectoryW(MAX_PATH + 1, folder);
    const wchar_t letter = length >= 2 && folder[1] == L':' ? std::towlower(folder[0]) : L'c';
    const std::vector<std::string> names = driveNames();
    for (const std::string& name : names)
        if (static_cast<wchar_t>(name[0]) == letter)
            return name;
    for (const std::string& name : names)
        if (name[0] == 'c')
            return name;
    return names.empty() ? std::string("c:") : names.front();
}

void WindowsDrives::testReadable(const std::string& driveName)
{
    const std::string operation = "read the drive";
    if (driveName.size() < 2 || !std::iswalpha(static_cast<unsigned char>(driveName[0])) ||
        driveName[1] != ':')
        throw OperationError(operation, {driveName}, "this is not a drive name");
    const std::wstring pattern{static_cast<wchar_t>(driveName[0]), L':', L'\\', L'*'};
    QuietErrors quiet;
    WIN32_FIND_DATAW data{};
    const HANDLE find = ::FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &data,
                                           FindExSearchNameMatch, nullptr, 0);
    if (find != INVALID_HANDLE_VALUE) {
        ::FindClose(find);
        return;
    }
    const DWORD error = ::GetLastError();
    if (error != ERROR_FILE_NOT_FOUND) // an empty root can be read
        throw OperationError(operation, {driveName}, systemReason(error));
}

} // namespace velmoran
