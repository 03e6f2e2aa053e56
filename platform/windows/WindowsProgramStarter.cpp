#include "platform/windows/WindowsProgramStarter.h"

#include "core/OperationError.h"
#include "platform/windows/WindowsText.h"

namespace velmoran {

namespace {

void appendQuoted(std::wstring& line, const std::wstring& argument, bool always)
{
    if (!always && !argument.empty() &&
        argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
        line += argument;
        return;
    }
    // Backslashes are literal except before a quote, where they are doubled.
    line += L'"';
    std::size_t backslashes = 0;
    for (wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        if (c == L'"')
            line.append(backslashes * 2 + 1, L'\\');
        else
            line.append(backslashes, L'\\');
        backslashes = 0;
        line += c;
    }
    line.append(backslashes * 2, L'\\');
    line += L'"';
}

} // namespace

std::wstring buildCommandLine(const std::wstring& program,
                              const std::vector<std::wstring>& arguments)
{
    // The program's path is always quoted: an unquoted path with blanks would have
    // Windows try "C:\Program.exe" and the like first.
    std::wstring line;
    appendQuoted(line, program, true);
    for (const std::wstring& argument : arguments) {
        line += L' ';
        appendQuoted(line, argument, false);
    }
    return line;
}

void WindowsProgramStarter::startProgram(const std::string& program,
                                         const std::vector<std::string>& arguments,
                                         const std::string& workingFolder)
{
    const std::wstring application = toWide(program);
    std::vector<std::wstring> wideArguments;
    for (const std::string& argument : arguments)
        wideArguments.push_back(toWide(argument));
    std::wstring commandLine = buildCommandLine(application, wideArguments);
    const std::wstring folder = toWide(workingFolder);

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWNORMAL;
    PROCESS_INFORMATION process{};
    // The application name is given, so Windows starts exactly this file and never
    // searches for a program in the command line.
    if (!::CreateProcessW(application.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0,
                          nullptr, folder.empty() ? nullptr : folder.c_str(), &startup, &process))
        throw OperationError("start the program", {program}, systemReason(::GetLastError()));
    // Not waited for: the program runs on by itself.
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
}

} // namespace velmoran
