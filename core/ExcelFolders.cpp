#include "core/ExcelFolders.h"

#include "core/GameFolder.h"

namespace velmoran {

void createExcelFolders(CommandContext& context)
{
    // A failed lookup ends the command here: without a game folder the paths below would
    // name folders at the root of the current drive.
    const std::string gameFolder = requireGameFolder(context.platform.registry);
    FileSystem& files = context.platform.files;
    files.makeFolder(gameFolder + DataFolder);
    files.makeFolder(gameFolder + GlobalFolder);
    files.makeFolder(gameFolder + ExcelFolder);
    files.copyFile(gameFolder + StormLibrary, gameFolder + ExcelStormCopy);
    if (!findFirst(files, gameFolder + ExcelFiles, FindFilter::Ordinary).empty())
        context.messages.showMessage(ExcelCreatedMessage, ProgramTitle);
}

void deleteExcelFolders(CommandContext& context)
{
    // A failed lookup ends the command here, so that nothing is reported as deleted when
    // nothing was.
    const std::string gameFolder = requireGameFolder(context.platform.registry);
    FileSystem& files = context.platform.files;
    files.deleteFiles(gameFolder + ExcelFiles);
    files.removeFolder(gameFolder + ExcelFolder);
    files.removeFolder(gameFolder + GlobalFolder);
    files.removeFolder(gameFolder + DataFolder);
    context.messages.showMessage(ExcelDeletedMessage, ProgramTitle);
}

} // namespace velmoran
