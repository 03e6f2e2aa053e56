// Scaffolding: replaced by the real viewer.
#include "platform/linux/XdgUrlViewer.h"

#include "core/OperationError.h"

namespace velmoran {

void XdgUrlViewer::openShortcut(const std::string& f, const std::string&)
{
    throw OperationError("open the web address", {f}, "not built yet");
}

} // namespace velmoran
