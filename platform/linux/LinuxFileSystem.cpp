// Scaffolding: replaced by the real file layer.
#include "platform/linux/LinuxFileSystem.h"

#include "core/OperationError.h"

namespace velmoran {

namespace {
[[noreturn]] void missing(const char* op, const std::string& path)
{
    throw OperationError(op, {path}, "not built yet");
}
} // namespace

LinuxFileSystem::LinuxFileSystem(WinePrefix prefix) : m_prefix(std::move(prefix)) {}
void LinuxFileSystem::copyFile(const std::string& s, const std::string&) { missing("copy file", s); }
void LinuxFileSystem::deleteFiles(const std::string& p) { missing("delete files", p); }
void LinuxFileSystem::makeFolder(const std::string& p) { missing("make folder", p); }
void LinuxFileSystem::removeFolder(const std::string& p) { missing("remove folder", p); }
void LinuxFileSystem::setAttributes(const std::string& p, unsigned) { missing("set attributes", p); }
unsigned LinuxFileSystem::fileAttributes(const std::string& p) { missing("read attributes", p); }
std::unique_ptr<Listing> LinuxFileSystem::findFile(const std::string& p, FindFilter) { missing("list", p); }
void LinuxFileSystem::copyFolderTree(const std::string& s, const std::string&) { missing("copy folder", s); }
void LinuxFileSystem::writeTextFile(const std::string& p, const std::vector<std::string>&) { missing("write", p); }
bool LinuxFileSystem::sameContents(const std::string& a, const std::string&) { missing("compare", a); }
void LinuxFileSystem::scanFolder(const std::string& f, const std::string&, FolderScan&) { missing("read folder", f); }

} // namespace velmoran
