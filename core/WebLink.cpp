#include "core/WebLink.h"

#include "core/OperationError.h"

namespace velmoran {

std::vector<std::string> shortcutLines(const std::string& address)
{
    return {"[InternetShortcut]", "URL=" + address};
}

void openWebsite(CommandContext& context)
{
    Platform& platform = context.platform;
    const std::string address = context.form.urlCaption();
    const std::vector<std::string> lines = shortcutLines(address);
    std::string shortcut = platform.applicationFolder + ShortcutFileName;
    try {
        platform.files.writeTextFile(shortcut, lines);
    } catch (const OperationError&) {
        // An installed program's folder is usually not writable by its user: the link
        // must work all the same.
        shortcut = platform.temporaryFolder + ShortcutFileName;
        platform.files.writeTextFile(shortcut, lines);
    }
    platform.viewer.openShortcut(shortcut, address);
}

} // namespace velmoran
