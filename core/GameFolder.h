#pragma once

#include "core/Registry.h"

#include <optional>
#include <string>

namespace velmoran {

inline constexpr const char* GameKeyPath = "SOFTWARE\\Blizzard Entertainment\\Diablo II";
inline constexpr const char* GameValueName = "InstallPath";

// The game's install folder, read afresh on every call, used as stored: no separator is
// added or removed and the folder is not tested for existence.
std::optional<std::string> lookupGameFolder(RegistryReader& registry);

// As lookupGameFolder, but a failed lookup raises GameFolderNotFound naming where the
// program looked, so that the command ends there with one clear message.
std::string requireGameFolder(RegistryReader& registry);

} // namespace velmoran
