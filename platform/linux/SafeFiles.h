#pragma once

#include <cerrno>
#include <filesystem>
#include <string>
#include <string_view>
#include <unistd.h>
#include <utility>
#include <vector>

namespace velmoran {

// Closes a descriptor when it goes out of scope.
class Descriptor
{
public:
    explicit Descriptor(int fd = -1) : m_fd(fd) {}
    ~Descriptor() { reset(); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return m_fd; }
    // Closes the one held and holds fd.
    void reset(int fd = -1)
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = fd;
    }
    // Gives the descriptor up without closing it.
    int release() { return std::exchange(m_fd, -1); }
    // Closes now and gives close's errno, or 0.
    int close()
    {
        const int fd = release();
        return fd >= 0 && ::close(fd) != 0 ? errno : 0;
    }

private:
    int m_fd;
};

// What an OperationError raised by these helpers names: the operation and its paths as the
// caller was given them.
struct FailureContext
{
    std::string operation;
    std::vector<std::string> paths;
};

[[noreturn]] void raiseFailure(const FailureContext& context, const std::string& reason);
[[noreturn]] void raiseErrno(const FailureContext& context, int error,
                             const std::string& detail = {});

// Writes that never leave a half-written file behind. A new file is first written to a
// temporary file in the destination's folder, flushed to disk, then renamed over the
// destination, and the folder is flushed. The temporary file is named
// ".velmoran-copy-<pid>-<random>.tmp": a dot-name, so Windows programs see it hidden, and
// one that a later run recognises and removes when the process that made it is gone.
namespace SafeFiles {

enum class FolderSync
{
    Now,
    Later
};

// Copies the file source to destination, replacing a file of that name, with the source's
// permission bits, modification time and DOS attributes. Changes nothing when both paths
// name the same file. The destination's folder is flushed unless
// FolderSync::Later is given (the caller then calls syncFolder itself).
void copyFile(const std::filesystem::path& source, const std::filesystem::path& destination,
              const FailureContext& context, FolderSync sync = FolderSync::Now);

// Creates or replaces the file with exactly these bytes.
void writeFile(const std::filesystem::path& destination, std::string_view bytes,
               const FailureContext& context);

// rename(2) and unlink(2), except that a big file whose last name they take away is freed
// afterwards on a thread of the program's own: freeing a few hundred megabytes of blocks
// (and their cached pages) takes most of such a call's time, and nothing waits for it. The
// names change at once, as with the plain calls; a file kept open meanwhile still goes when
// the program ends, however it ends. Both return 0, or -1 with errno set.
int renameFreeingLater(const std::filesystem::path& from, const std::filesystem::path& to);
int unlinkFreeingLater(const std::filesystem::path& path);
// Waits until every file let go above has been freed.
void waitUntilFreed();

// Flushes a folder's entries to disk.
void syncFolder(const std::filesystem::path& folder, const FailureContext& context);

// True for the names of the temporary files above.
bool isTemporaryName(std::string_view name);

// Removes the temporary files of this kind in the folder whose process no longer runs.
// Never fails.
void removeStrayTemporaries(const std::filesystem::path& folder);

} // namespace SafeFiles

} // namespace velmoran
