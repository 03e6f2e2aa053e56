// Scaffolding: replaced by the real drive list.
#include "platform/linux/LinuxDrives.h"

#include "core/OperationError.h"

namespace velmoran {

LinuxDrives::LinuxDrives(WinePrefix prefix) : m_prefix(std::move(prefix)) {}
std::vector<std::string> LinuxDrives::driveNames() { return {"c:"}; }
std::string LinuxDrives::currentDrive() { return "c:"; }
void LinuxDrives::testReadable(const std::string& d) { throw OperationError("read drive", {d}, "not built yet"); }

} // namespace velmoran
