// A stand-in Windows program: writes to "<its path>.txt" its command line, its current folder and
// its arguments, one a line; copies a file named by its first argument to "<its path>.input".
#include <windows.h>

#include <shellapi.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace {

std::string utf8(const wchar_t* text)
{
    const int length = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(length > 0 ? length - 1 : 0), '\0');
    if (length > 1)
        ::WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), length, nullptr, nullptr);
    return out;
}

} // namespace

int main()
{
    std::wstring self(32768, L'\0'), folder(32768, L'\0');
    self.resize(::GetModuleFileNameW(nullptr, self.data(), static_cast<DWORD>(self.size())));
    folder.resize(::GetCurrentDirectoryW(static_cast<DWORD>(folder.size()), folder.data()));
    const wchar_t* line = ::GetCommandLineW();
    std::string record = utf8(line) + "\n" + utf8(folder.c_str()) + "\n";
    int count = 0;
    if (wchar_t** arguments = ::CommandLineToArgvW(line, &count)) {
        for (int i = 1; i < count; ++i)
            record += utf8(arguments[i]) + "\n";
        // Opened as a viewer: a copy of the file as it was read, made before the record.
        const DWORD kind =
            count >= 2 ? ::GetFileAttributesW(arguments[1]) : INVALID_FILE_ATTRIBUTES;
        if (kind != INVALID_FILE_ATTRIBUTES && !(kind & FILE_ATTRIBUTE_DIRECTORY))
            ::CopyFileW(arguments[1], (self + L".input").c_str(), FALSE);
        ::LocalFree(arguments);
    }
    // Written whole under another name first: a reader never sees half of it.
    const std::wstring part = self + L".part";
    std::ofstream out(std::filesystem::path(part), std::ios::binary);
    out << record;
    out.close();
    if (!out)
        return 2;
    return ::MoveFileExW(part.c_str(), (self + L".txt").c_str(), MOVEFILE_REPLACE_EXISTING) ? 0 : 3;
}
