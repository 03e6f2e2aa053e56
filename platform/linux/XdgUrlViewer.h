#pragma once

#include "core/ProgramStarter.h"

namespace velmoran {

// Opens a web address with the desktop's own opener (xdg-open).
class XdgUrlViewer : public UrlViewer
{
public:
    void openShortcut(const std::string& shortcutFile, const std::string& address) override;
};

} // namespace velmoran
