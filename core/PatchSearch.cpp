// The Find command's walk: the folder tree in depth-first pre-order, every folder once,
// its matches reported in the walk's order; the reads ahead of it are FolderReader's.
#include "core/PatchSearch.h"

#include "core/FolderIdSet.h"
#include "core/FolderReader.h"
#include "core/PathRules.h"

#include <algorithm>
#include <exception>
#include <memory>
#include <utility>

namespace velmoran {

namespace {

// How many sibling subtrees the subtree reader is given at a time, at most.
constexpr std::size_t MaxRun = 64;

// One folder of the walk whose subfolders are still to be walked.
struct PendingFolder
{
    std::string path; // ends in "\"
    Place place;
    struct Subfolder
    {
        std::string name;
        std::uint32_t index; // in the scan
        FolderId id;
    };
    std::vector<Subfolder> subfolders;
    std::size_t next = 0;
    std::size_t handedOver = 0; // subfolders before this one went to the subtree reader
};

} // namespace

SearchSummary FindFiles(FileSystem& files, const std::string& folder, const std::string& name,
                        SearchObserver& observer, const StopRequest* stop, unsigned readAhead,
                        std::chrono::microseconds slowRead, std::chrono::milliseconds answerLimit)
{
    SearchSummary summary;
    FolderIdSet seen;
    std::vector<PendingFolder> pending; // one per level below the root that is being walked
    // Shared with the reads that do not answer in time: they use it until they return.
    TimeLimitedScanner scanner(files.folderScanner(name), answerLimit,
                               [&observer] { observer.waiting(); });
    FolderReader reader(scanner, readAhead, 256, slowRead);

    auto stopRequested = [&] {
        if (stop != nullptr && stop->requested()) {
            summary.stopped = true;
            return true;
        }
        return false;
    };

    // Reads one folder: reports its subfolders (the caption count) and its matches, and
    // remembers the subfolders that are to be walked.
    auto readFolder = [&](std::string path, Place place, const FolderId& known) {
        ReadResult read = reader.take(place, path, known);
        if (read.error) {
            try {
                std::rethrow_exception(read.error);
            } catch (const OperationError& error) {
                // A folder removed since its parent was listed is gone, not unreadable: it
                // is passed over untold. Only a root that is not there is told.
                if (!place.empty() && dynamic_cast<const FolderGone*>(&error))
                    return;
                // A file system that stopped answering is told once, at its first folder.
                if (const auto* given = dynamic_cast<const FileSystemStoppedAnswering*>(&error)) {
                    if (!given->told())
                        return;
                    summary.stoppedAnswering.push_back(error.what());
                }
                if (summary.foldersPassedOver++ == 0)
                    summary.firstPassedOver = error.what();
                observer.folderPassedOver(error);
                return;
            }
        }
        FolderScan& scan = read.scan;
        // Known already for every folder but the root, one whose identity its parent's read
        // could not give, and a mount point (listed with the identity of the folder it
        // covers): a link back up to it is then not walked again either, and a mount point
        // reached before through a link is not walked a second time.
        if ((place.empty() || !(scan.folder == known)) && !seen.insert(scan.folder) &&
            !place.empty()) {
            ++summary.repeatsSkipped;
            reader.forget(place);
            return;
        }
        ++summary.foldersRead;

        PendingFolder next{std::move(path), std::move(place), {}, 0};
        next.subfolders.reserve(scan.subfolders.size());
        for (std::size_t i = 0; i < scan.subfolders.size(); ++i) {
            observer.subfolderFound(i + 1);
            const FolderId id = i < scan.subfolderIds.size() ? scan.subfolderIds[i] : FolderId{};
            if (seen.insert(id)) {
                next.subfolders.push_back(
                    {std::move(scan.subfolders[i]), static_cast<std::uint32_t>(i), id});
            } else {
                ++summary.repeatsSkipped;
                Place skipped = next.place;
                skipped.push_back(static_cast<std::uint32_t>(i));
                reader.forget(skipped);
            }
        }
        for (const std::string& match : scan.matches) {
            ++summary.matches;
            observer.matchFound(next.path + match);
        }
        if (!next.subfolders.empty())
            pending.push_back(std::move(next));
    };

    if (stopRequested())
        return summary;
    readFolder(withTrailingSeparator(folder), Place{}, FolderId{});

    while (!pending.empty()) {
        if (stopRequested())
            break;
        PendingFolder& top = pending.back();
        if (top.next == top.subfolders.size()) {
            pending.pop_back();
            continue;
        }
        // The subtree reader is given the nearest subtrees that the walk enters after the one
        // it enters next, the deepest level's next siblings: the walk soon reaches what it
        // read, so little waits read ahead, and what the two read side by side is balanced.
        if (reader.wantsSubtree()) {
            const std::size_t shallowest = reader.subtreeLevel();
            for (std::size_t level = pending.size(); level-- > shallowest;) {
                PendingFolder& folder = pending[level];
                const std::size_t first = std::max(
                    folder.next + (level + 1 == pending.size() ? 1 : 0), folder.handedOver);
                if (first >= folder.subfolders.size())
                    continue;
                const std::size_t end = std::min(folder.subfolders.size(), first + MaxRun);
                std::vector<FolderReader::Subtree> run;
                run.reserve(end - first);
                for (std::size_t i = first; i < end; ++i) {
                    const PendingFolder::Subfolder& given = folder.subfolders[i];
                    Place place = folder.place;
                    place.push_back(given.index);
                    run.push_back({std::move(place), folder.path + given.name + '\\', given.id});
                }
                reader.handOver(std::move(run));
                folder.handedOver = end;
                break;
            }
        }
        PendingFolder::Subfolder& subfolder = top.subfolders[top.next++];
        std::string child = top.path;
        child += subfolder.name;
        child += '\\';
        // The name is no longer needed; freeing it keeps the memory to the unwalked part.
        std::string().swap(subfolder.name);
        Place place = top.place;
        place.push_back(subfolder.index);
        const FolderId known = subfolder.id;
        readFolder(std::move(child), std::move(place),
                   known); // may add to pending: `top` is unused after
    }
    return summary;
}
} // namespace velmoran
