#include "core/PatchSwap.h"

#include "core/GameFolder.h"
#include "core/OperationError.h"

#include <string>

namespace velmoran {

namespace {

// The game folder's layout, each path the game folder followed by a fixed literal.
constexpr const char* ArchiveLiteral = "\\patch_d2.mpq";
constexpr const char* BackupFolderLiteral = "\\Backup";
constexpr const char* BackupArchiveLiteral = "\\Backup\\patch_d2.mpq";
constexpr const char* SaveFolderLiteral = "\\save";
constexpr const char* SaveBackupLiteral = "\\save_Backup";
constexpr const char* SaveCopyLiteral = "\\save_Backup\\save";
constexpr const char* SaveCopyFilesLiteral = "\\save_Backup\\save\\*.*";

// Removes the folder when it is empty, and tells whether it did. A folder that holds
// anything, or is missing, stays as it is.
bool removeEmptyFolder(FileSystem& files, const std::string& folder)
{
    try {
        files.removeFolder(folder);
        return true;
    } catch (const OperationError&) {
        return false;
    }
}

bool hasFile(FileSystem& files, const std::string& path)
{
    return !findFirst(files, path, FindFilter::Hidden).empty();
}

bool exists(FileSystem& files, const std::string& path)
{
    try {
        files.fileAttributes(path);
        return true;
    } catch (const OperationError&) {
        return false;
    }
}

// Removes F\save_Backup\save and F\save_Backup when both are empty; tells whether
// F\save_Backup is gone. A copy that holds anything stays as it is.
bool removeEmptySaveCopy(FileSystem& files, const std::string& gameFolder)
{
    removeEmptyFolder(files, gameFolder + SaveCopyLiteral);
    return removeEmptyFolder(files, gameFolder + SaveBackupLiteral);
}

} // namespace

void backupPatch(CommandContext& context)
{
    FileSystem& files = context.platform.files;
    RegistryReader& registry = context.platform.registry;

    std::string gameFolder = requireGameFolder(registry);
    {
        const std::string archive = gameFolder + ArchiveLiteral;
        const std::string backupFolder = gameFolder + BackupFolderLiteral;
        const std::string backupArchive = gameFolder + BackupArchiveLiteral;

        // An empty Backup folder, left by a run that was cut short, would make every Backup
        // stop here; it goes first. One that holds anything stays, and making the folder
        // then fails: a backup exists already and the game folder is left as it is.
        removeEmptyFolder(files, backupFolder);
        files.makeFolder(backupFolder);
        // Within one file system the archive moves in one step; across file systems it is
        // copied, and the copy verified before the game's archive goes.
        bool moved = false;
        try {
            moved = files.moveFile(archive, backupArchive);
            if (!moved)
                files.copyFile(archive, backupArchive);
        } catch (const OperationError&) {
            // An empty Backup folder would make every later Backup and Undo stop at once.
            removeEmptyFolder(files, backupFolder);
            if (!hasFile(files, archive))
                throw OperationError("back up the game's patch archive", {archive},
                                     "the game folder holds no patch_d2.mpq, so there is "
                                     "nothing to back up");
            throw;
        }
        if (!moved && !files.sameContents(archive, backupArchive)) {
            // A copy that differs must never be restored over the game's own archive later.
            bool removed = false;
            try {
                files.deleteFiles(backupArchive);
                removed = removeEmptyFolder(files, backupFolder);
            } catch (const OperationError&) {
            }
            throw OperationError(
                "back up the game's patch archive", {archive, backupArchive},
                std::string("the copy does not hold the same bytes as the "
                            "original; the game's archive was left in place") +
                    (removed ? " and the copy removed" : ". Delete the copy before using Undo"));
        }
        // Only a verified copy lets the game's archive go.
        if (!moved)
            files.deleteFiles(archive);
    }

    if (context.form.checkValue(1) == CheckValue::Ticked) {
        gameFolder = requireGameFolder(registry);
        // As with Backup: empty leftovers go, a save copy that holds anything makes this fail.
        removeEmptySaveCopy(files, gameFolder);
        files.makeFolder(gameFolder + SaveBackupLiteral);
        files.copyFolderTree(gameFolder + SaveFolderLiteral, gameFolder + SaveCopyLiteral);
    }

    const std::string backupArchive = gameFolder + BackupArchiveLiteral;
    if (hasFile(files, backupArchive))
        context.messages.showMessage(BackupCreatedMessage, ProgramTitle);
    files.setAttributes(backupArchive, Attribute::Hidden);
}

void undoChanges(CommandContext& context)
{
    FileSystem& files = context.platform.files;
    RegistryReader& registry = context.platform.registry;

    std::string gameFolder = requireGameFolder(registry);
    {
        const std::string archive = gameFolder + ArchiveLiteral;
        const std::string backupFolder = gameFolder + BackupFolderLiteral;
        const std::string backupArchive = gameFolder + BackupArchiveLiteral;

        // Nothing backed up: Undo stops before touching anything. A copy of the saves found
        // then (left by an Undo cut short, or by a backup folder deleted by hand) is older
        // than the save folder may be, so it is never merged back here; the player is told
        // where it lies.
        if (!exists(files, backupArchive)) {
            const std::string saveCopy = gameFolder + SaveCopyLiteral;
            std::string reason = "the game folder holds no backed-up patch archive, so Undo "
                                 "changed nothing";
            if (exists(files, saveCopy))
                reason += ".\n\nA copy of the save folder from an earlier Backup lies in\n" +
                          saveCopy +
                          "\nUndo left it and the save folder as they are, since the save "
                          "folder may hold newer saves. Take from the copy by hand what you need.";
            throw OperationError("undo the changes", {backupArchive}, reason);
        }
        files.setAttributes(backupArchive, Attribute::Normal);
        // Moved in one step within one file system; across file systems copied, and only a
        // verified restore lets the backup go.
        if (!files.moveFile(backupArchive, archive)) {
            files.copyFile(backupArchive, archive);
            if (!files.sameContents(backupArchive, archive))
                throw OperationError("restore the game's patch archive",
                                     {backupArchive, archive},
                                     "the restored archive does not hold the same bytes as its "
                                     "backup; the backup was kept");
            files.deleteFiles(backupArchive);
        }
        files.removeFolder(backupFolder);
    }

    if (!findFirst(files, gameFolder + SaveCopyFilesLiteral, FindFilter::Ordinary).empty()) {
        gameFolder = requireGameFolder(registry);
        files.copyFolderTree(gameFolder + SaveCopyLiteral, gameFolder + SaveFolderLiteral);
        files.deleteFiles(gameFolder + SaveCopyFilesLiteral);
        files.removeFolder(gameFolder + SaveCopyLiteral);
        files.removeFolder(gameFolder + SaveBackupLiteral);
    } else {
        // Empty save backup folders would make the next Backup with the saves fail; a copy
        // with hidden files or subfolders only is left in place.
        removeEmptySaveCopy(files, gameFolder);
    }

    context.messages.showMessage(ChangesUndoneMessage, ProgramTitle);
}

void replacePatch(CommandContext& context)
{
    FileSystem& files = context.platform.files;

    const int index = context.form.selectedIndex();
    if (index < 0) {
        context.messages.showMessage(NothingSelectedMessage, ProgramTitle);
        return;
    }

    const std::string gameFolder = requireGameFolder(context.platform.registry);
    const std::string source = context.form.listText(index);
    const std::string archive = gameFolder + ArchiveLiteral;

    // Copying the game's own archive onto itself leaves it untouched.
    try {
        files.copyFile(source, archive);
    } catch (const OperationError&) {
        if (!hasFile(files, source))
            throw OperationError("replace the game's patch archive", {source},
                                 "the selected file is no longer there (moved or deleted "
                                 "since the search); the game's archive was not touched");
        throw;
    }

    if (!findFirst(files, archive, FindFilter::Ordinary).empty())
        context.messages.showMessage(PatchReplacedMessage, ProgramTitle);
}

} // namespace velmoran
