// The walk's reads ahead, seen from the folder scanner while the walk stands still: what is
// read, in which order, how far ahead, and what is left alone once the walk forgets it.
#include "core/FolderReader.h"
#include "support/ScratchFolder.h"
#include "support/TestPlatform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

using namespace velmoran;
using namespace velmoran::testing;
using namespace std::chrono_literals;
using Texts = std::vector<std::string>;

namespace {

// The real scanner, telling which folders threads other than the walk's have read.
class ReadsAhead : public FolderScanner
{
public:
    explicit ReadsAhead(std::unique_ptr<FolderScanner> real) : m_real(std::move(real)) {}
    void scan(const std::string& folder, const FolderId& known, FolderScan& result) override
    {
        m_real->scan(folder, known, result);
        std::this_thread::sleep_for(pause);
        const std::lock_guard lock(m_mutex);
        disk += diskPerRead;
        (std::this_thread::get_id() == m_walker ? m_walked : m_ahead).push_back(folder);
        m_read.notify_all();
    }
    // Once n folders are read ahead (or 10 s have gone by), and a moment after, in case
    // more follow that should not. A folder is read ahead before the reader keeps it.
    Texts ahead(std::size_t n)
    {
        std::unique_lock lock(m_mutex);
        m_read.wait_for(lock, 10s, [&] { return m_ahead.size() >= n; });
        lock.unlock();
        std::this_thread::sleep_for(50ms);
        lock.lock();
        return m_ahead;
    }
    Texts walked()
    {
        const std::lock_guard lock(m_mutex);
        return m_walked;
    }
    std::optional<std::uint64_t> diskBytesRead() override
    {
        const std::lock_guard lock(m_mutex);
        return std::optional<std::uint64_t>(disk);
    }
    // Each read at least this long, and this much more read from the disk.
    std::chrono::milliseconds pause{0};
    std::uint64_t disk = 0, diskPerRead = 0;

private:
    std::unique_ptr<FolderScanner> m_real;
    const std::thread::id m_walker = std::this_thread::get_id();
    std::mutex m_mutex;
    std::condition_variable m_read;
    Texts m_ahead, m_walked;
};

class ReadAhead : public ::testing::Test
{
protected:
    // Three subtrees of seven, seven and three folders, in the walk's order as a plain
    // recursive read gives it (the listing order is the file system's).
    ReadAhead()
    {
        for (const char* leaf :
             {"A/1/x", "A/1/y", "A/2/x", "A/2/y", "B/1/x", "B/1/y", "B/2/x", "B/2/y", "C/1/x"})
            fs::create_directories(scratch / "tree" / leaf);
        fs::create_directories(scratch / "prefix");
        walkOrder(*services.real().files.folderScanner("x"), root, {});
    }
    void walkOrder(FolderScanner& scanner, const std::string& folder, const Place& place)
    {
        FolderScan scan;
        scanner.scan(folder, {}, scan);
        order.push_back({folder, place, scan.subfolders});
        for (std::uint32_t i = 0; i < scan.subfolders.size(); ++i) {
            Place child = place;
            child.push_back(i);
            walkOrder(scanner, folder + scan.subfolders[i] + '\\', child);
        }
    }
    char subtree(const std::string& path) const { return path[root.size()]; }
    // The folders in the walk's order, but for the root and the subtrees named: `count` of
    // them from the `from`th.
    Texts inOrder(std::size_t count, const std::string& except = "", std::size_t from = 0) const
    {
        Texts out;
        for (const Folder& folder : order)
            if (!folder.place.empty() && except.find(subtree(folder.path)) == std::string::npos)
                out.push_back(folder.path);
        out.erase(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(from));
        out.resize(std::min(count, out.size()));
        return out;
    }
    // The walk takes these folders, in its order, each as the plain read gave it.
    void take(FolderReader& reader, const Texts& paths)
    {
        for (const Folder& folder : order)
            if (std::find(paths.begin(), paths.end(), folder.path) != paths.end()) {
                const ReadResult read = reader.take(folder.place, folder.path, {});
                ASSERT_FALSE(read.error) << folder.path;
                EXPECT_EQ(read.scan.subfolders, folder.subfolders) << folder.path;
            }
    }

    ScratchFolder scratch{"velmoran-read-ahead"};
    TestPlatform services{scratch / "prefix"};
    const std::string root = (scratch / "tree").string() + '\\';
    struct Folder
    {
        std::string path;
        Place place;
        Texts subfolders;
    };
    std::vector<Folder> order;
};

// One reader and a window of four: it reads the four folders that come next, waits, goes on
// past a subtree the walk forgets, and again as the walk takes what it read.
TEST_F(ReadAhead, ReadersKeepToTheWalksOrderAndWindow)
{
    ASSERT_EQ(order.size(), 18u);
    ReadsAhead scanner(services.real().files.folderScanner("x"));
    FolderReader reader(scanner, 1, 4, 0us);
    ASSERT_FALSE(reader.take({}, root, {}).error);
    Texts expected = inOrder(4);
    EXPECT_EQ(scanner.ahead(4), expected);
    // Forgotten, the first subtree's are dropped; nothing more of it is read.
    const std::string gone(1, subtree(expected[0]));
    reader.forget(order[1].place);
    const auto append = [&](const Texts& more) {
        expected.insert(expected.end(), more.begin(), more.end());
    };
    append(inOrder(4, gone));
    EXPECT_EQ(scanner.ahead(8), expected);
    // Once the walk has taken half of what was read (the last one read may not be kept
    // yet), the reader fills the window again.
    take(reader, inOrder(2, gone));
    append(inOrder(2, gone, 4));
    EXPECT_EQ(scanner.ahead(expected.size()), expected);
    EXPECT_EQ(scanner.walked(), (Texts{root}));
}

// The readers start once the walk's own reads have turned slow and, where the disk's reads
// are counted, only if the disk is being read (a cold cache, not a busy processor).
TEST_F(ReadAhead, ReadersStartOnlyWhenTheWalksReadsAreSlowOnAColdDisk)
{
    for (const bool cold : {false, true}) {
        ReadsAhead scanner(services.real().files.folderScanner("x"));
        scanner.pause = 4ms; // its moving average passes 1 ms by the sixteenth read
        scanner.diskPerRead = cold ? 1u << 20 : 0;
        FolderReader reader(scanner, 1, 256, 1ms);
        ASSERT_FALSE(reader.take({}, root, {}).error);
        take(reader, inOrder(15));
        // Started after the sixteenth read, they read the two folders that come after it,
        // which the walk then takes as read.
        EXPECT_EQ(scanner.ahead(cold ? 2 : 0), cold ? inOrder(2, "", 15) : Texts{}) << cold;
        take(reader, inOrder(2, "", 15));
        EXPECT_EQ(scanner.walked().size(), cold ? 16u : order.size()) << cold;
    }
}

// The subtree reader reads the subtrees it is handed, each in the walk's order, while the
// walk goes through the one before them; what it read is taken, never read twice.
TEST_F(ReadAhead, TheSubtreeReaderReadsWhatItIsHandedInTheWalksOrder)
{
    ReadsAhead scanner(services.real().files.folderScanner("x"));
    FolderReader reader(scanner, 2, 256, std::chrono::hours(1));
    ASSERT_FALSE(reader.take({}, root, {}).error);
    EXPECT_TRUE(reader.wantsSubtree());
    std::vector<FolderReader::Subtree> run; // all but the first, which the walk enters next
    for (const Folder& folder : order)
        if (folder.place.size() == 1 && folder.place[0] > 0)
            run.push_back({folder.place, folder.path, {}});
    reader.handOver(run);
    // It asks for more once it has read and kept all it was handed (at once, on a tree this
    // small).
    const auto end = std::chrono::steady_clock::now() + 10s;
    while (!reader.wantsSubtree() && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(1ms);
    EXPECT_EQ(reader.subtreeLevel(), 0u);
    const std::string first(1, subtree(order[1].path));
    EXPECT_EQ(scanner.ahead(0), inOrder(order.size(), first));
    take(reader, inOrder(order.size()));
    Texts walked{root};
    for (const std::string& path : inOrder(order.size()))
        if (subtree(path) == first[0])
            walked.push_back(path);
    EXPECT_EQ(scanner.walked(), walked);
}

} // namespace
