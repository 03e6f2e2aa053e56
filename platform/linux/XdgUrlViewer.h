#pragma once

#include "core/ProgramStarter.h"
#include "platform/linux/WinePrefix.h"

#include <string>

namespace velmoran {

// Opens a web address with the desktop's own opener, xdg-open (found on PATH), started
// detached so that the browser outlives Velmoran. The opener is handed the address itself,
// never the shortcut file, so the file is deleted as soon as the opener has been started
// (or could not be): no shortcut file is ever left behind.
class XdgUrlViewer : public UrlViewer
{
public:
    explicit XdgUrlViewer(WinePrefix prefix);

    void openShortcut(const std::string& shortcutFile, const std::string& address) override;

    // The address as the opener gets it: "http://" is put in front of an address that
    // names no scheme of its own ("example.org" -> "http://example.org").
    static std::string openerAddress(const std::string& address);

private:
    WinePrefix m_prefix;
};

} // namespace velmoran
