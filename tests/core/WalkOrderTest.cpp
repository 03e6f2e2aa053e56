#include "core/PatchSearch.h"
#include "support/Recorders.h"
#include "support/ScratchFolder.h"
#include "support/TestPlatform.h"
#include <gtest/gtest.h>
#include <thread>
using namespace velmoran;
// Slowing the walk's reads (hold 1) or its subtree reader's (hold 0) changes nothing it gives.
struct Held : velmoran::testing::ForwardingFiles
{
    Held(FileSystem& files, int hold) : ForwardingFiles(files), hold(hold) {}
    void scanFolder(const std::string& f, const std::string& n, FolderScan& r) override
    {
        if (hold == (std::this_thread::get_id() == walker))
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        real.scanFolder(f, n, r);
    }
    int hold;
    std::thread::id walker = std::this_thread::get_id();
};
TEST(WalkOrder, IsTheSameWhicheverThreadReadsFirst)
{
    velmoran::testing::ScratchFolder scratch{"velmoran-walk-order"};
    velmoran::testing::TestPlatform services{scratch / "prefix"};
    for (auto path : {"A/patch_d2.mpq", "A/B/C/PATCH_D2.MPQ", "I/J/K/patch_d2.mpq", "N/.d/x"})
        velmoran::testing::writeFile(scratch / "tree" / path, "");
    std::filesystem::create_directory_symlink(scratch / "tree/A", scratch / "tree/I/J/BackToA");
    std::filesystem::create_directory_symlink(scratch / "tree/I", scratch / "tree/A/B/ToI");
    std::string alone, seen;
    BatchingObserver observer(
        [&](SearchBatch&& b) { seen += b.caption + (b.matches.empty() ? "" : b.matches[0]); }, {});
    for (const int hold : {-1, -1, 0, 1}) { // first alone, then with the subtree reader
        Held held(services.real().files, hold);
        const auto summary = FindFiles(held, (scratch / "tree").string(), PatchFileName, observer,
                                       nullptr, alone.empty() ? 0 : 8, std::chrono::hours(1));
        alone = alone.empty() ? seen : alone;
        EXPECT_EQ(std::exchange(seen, {}), alone) << hold;
        EXPECT_EQ(summary.matches * 10 + summary.repeatsSkipped, 32u) << hold; // 3; 2 links again
    }
}
