#pragma once

#include "platform/linux/LinuxEnvironment.h"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmoran {

// A drive letter of the prefix and where it leads.
struct WineDrive
{
    char letter = 'c';            // lower case
    std::filesystem::path target; // the Unix folder the drive's root is
};

// The Wine prefix whose registry, drives and files the program works on:
// $WINEPREFIX (an absolute path), else ~/.wine.
class WinePrefix
{
public:
    explicit WinePrefix(std::filesystem::path root);
    // From WINEPREFIX and HOME; a relative WINEPREFIX, which Wine refuses, gives a prefix
    // with an error() that every lookup reports.
    static WinePrefix fromEnvironment();
    static WinePrefix fromEnvironment(const LinuxEnvironment& environment);

    const std::filesystem::path& root() const { return m_root; }
    const std::string& error() const { return m_error; }
    std::filesystem::path systemRegistry() const { return m_root / "system.reg"; }
    std::filesystem::path dosDevices() const { return m_root / "dosdevices"; }

    // The drive letters: the dosdevices links "c:", "d:", ... in letter order, or, where the
    // prefix has no dosdevices folder yet, Wine's defaults (c: = drive_c, z: = /).
    std::vector<WineDrive> drives() const;
    std::optional<std::filesystem::path> driveTarget(char letter) const;

    // Maps a Windows path ("c:\Games\Diablo II") onto a Unix one through its drive link,
    // then component by component, taking a name that differs only in case where the exact
    // name is missing (as Wine does). Components that exist in no case are kept as given.
    // A path that begins with "/" is a Unix path already and is resolved from "/".
    // Raises an OperationError (naming `operation`) for a path with no drive or a drive
    // the prefix does not have.
    std::filesystem::path toUnix(const std::string& windowsPath,
                                 const std::string& operation = "find the path") const;

    // `base` followed by the components of `windowsPath` from `from` on, joined with "/"
    // as they stand (no case lookup); empty text when a component is "." or "..".
    static std::string joinLiterally(std::string base, std::string_view windowsPath,
                                     std::size_t from);

private:
    std::filesystem::path m_root;
    std::string m_error;
};

} // namespace velmoran
