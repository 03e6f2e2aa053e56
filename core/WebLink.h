#pragma once

#include "core/CommandContext.h"

#include <string>
#include <vector>

namespace velmoran {

inline constexpr const char* ShortcutFileName = "\\TEMP.URL";

// The lines of an Internet shortcut to the address.
std::vector<std::string> shortcutLines(const std::string& address);

// The click of lblURL: writes TEMP.URL holding the caption of lblURL as its address into
// the application folder (or, where that folder cannot be written, into the temporary
// folder) and has the platform's viewer open it. The viewer deletes the file once it no
// longer needs it.
void openWebsite(CommandContext& context);

} // namespace velmoran
