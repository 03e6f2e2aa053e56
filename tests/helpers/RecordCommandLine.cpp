// A stand-in for a Windows program that the tests start (the game's "Diablo II.exe", or a
// decoy): it writes how it was started to "<its own path>.txt" and ends.
//   line 1: the command line as the system gave it
//   line 2: the current folder
//   then one line per argument after the program's name, as the C runtime splits them
// When its first argument names a file, it first copies that file to "<its path>.input".
#include <windows.h>

#include <shellapi.h>

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
    std::wstring self(32768, L'\0');
    self.resize(::GetModuleFileNameW(nullptr, self.data(), static_cast<DWORD>(self.size())));
    std::wstring folder(32768, L'\0');
    folder.resize(::GetCurrentDirectoryW(static_cast<DWORD>(folder.size()), folder.data()));

    const wchar_t* line = ::GetCommandLineW();
    std::string record = utf8(line) + "\n" + utf8(folder.c_str()) + "\n";
    int count = 0;
    if (wchar_t** arguments = ::CommandLineToArgvW(line, &count)) {
        for (int i = 1; i < count; ++i)
            record += utf8(arguments[i]) + "\n";
        ::LocalFree(arguments);
    }

    // Opened as a viewer of a file: a copy of what the file held when it was read, in
    // "<its own path>.input", written before the record.
    if (count >= 2) {
        const std::wstring input = self + L".input";
        int arguments = 0;
        wchar_t** argv = ::CommandLineToArgvW(line, &arguments);
        if (argv && ::GetFileAttributesW(argv[1]) != INVALID_FILE_ATTRIBUTES &&
            !(::GetFileAttributesW(argv[1]) & FILE_ATTRIBUTE_DIRECTORY))
            ::CopyFileW(argv[1], input.c_str(), FALSE);
        if (argv)
            ::LocalFree(argv);
    }

    // Written whole under another name first, so that a reader never sees half of it.
    const std::wstring part = self + L".part";
    const HANDLE file = ::CreateFileW(part.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 2;
    DWORD written = 0;
    const bool ok =
        ::WriteFile(file, record.data(), static_cast<DWORD>(record.size()), &written, nullptr) &&
        written == record.size();
    ::CloseHandle(file);
    if (!ok || !::MoveFileExW(part.c_str(), (self + L".txt").c_str(), MOVEFILE_REPLACE_EXISTING))
        return 3;
    return 0;
}
