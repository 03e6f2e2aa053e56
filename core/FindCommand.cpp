#include "core/FindCommand.h"

#include "core/AsciiText.h"
#include "core/OperationError.h"

#include <exception>

namespace velmoran {

namespace {

// Hands the walk's reports straight to the main window.
class FormObserver : public SearchObserver
{
public:
    explicit FormObserver(MainWindowControls& form) : m_form(form) {}

    void subfolderFound(std::uint64_t count) override { m_form.setCaption(std::to_string(count)); }
    void matchFound(const std::string& entry) override { m_form.appendToList({entry}); }
    void folderPassedOver(const OperationError&) override {}

private:
    MainWindowControls& m_form;
};

bool isFallbackDrive(const std::string& driveName)
{
    return driveIndex(driveName) == 'c' - 'a';
}

} // namespace

std::string searchRoot(const std::string& driveName)
{
    if (driveName.empty())
        throw OperationError("search the selected drive", {}, "no drive is selected");
    return driveName.substr(0, 1) + ":\\";
}

std::string beginFind(CommandContext& context)
{
    const std::string root = searchRoot(context.form.selectedDrive());
    context.form.clearList();
    return root;
}

std::string passedOverMessage(const SearchSummary& summary)
{
    if (summary.foldersPassedOver == 0)
        return {};
    std::string text = summary.foldersPassedOver == 1
                           ? std::string("1 folder could not be read and was passed over.")
                           : std::to_string(summary.foldersPassedOver) +
                                 " folders could not be read and were passed over. The first:";
    text += "\n\n" + summary.firstPassedOver;
    // A file system given up is told whether or not it came first.
    for (const std::string& given : summary.stoppedAnswering)
        if (given != summary.firstPassedOver)
            text += "\n\n" + given;
    return text;
}

void endFind(CommandContext& context, const SearchSummary& summary, const std::string& failure)
{
    if (context.form.listCount() == 0) {
        if (failure.empty())
            context.messages.showMessage(NothingFoundMessage, ProgramTitle);
        context.form.setCaption(SearchEndCaption);
    }
    if (context.form.listCount() == 1)
        context.form.setCaption(SearchEndCaption);
    const std::string passedOver = passedOverMessage(summary);
    if (!passedOver.empty())
        context.messages.showMessage(passedOver, ProgramTitle);
    if (!failure.empty())
        context.messages.showMessage(SearchFailedMessage + failure, ProgramTitle);
}

void findPatches(CommandContext& context)
{
    const std::string root = beginFind(context);
    FormObserver observer(context.form);
    const SearchSummary summary = FindFiles(context.platform.files, root, PatchFileName, observer);
    endFind(context, summary);
}

void changeDrive(CommandContext& context)
{
    try {
        context.platform.drives.testReadable(context.form.selectedDrive());
        return;
    } catch (const std::exception&) {
        // Answered below, whatever the reason.
    }
    const std::string driveName = context.form.selectedDrive();
    if (driveName == "a:")
        context.messages.showMessage(NoDiskInAMessage, NoDiskInATitle);
    else
        context.messages.showMessage(NoDiskMessage + driveName, NoDiskTitle);
    // Selecting c: when c: is the drive that failed would only fail again, for ever.
    if (!isFallbackDrive(driveName))
        context.form.selectDrive(FallbackDrive);
}

} // namespace velmoran
