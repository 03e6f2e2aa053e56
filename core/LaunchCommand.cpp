#include "core/LaunchCommand.h"

#include "core/GameFolder.h"

namespace velmoran {

std::vector<std::string> launchSwitches(int check2, int check3, int check4)
{
    std::vector<std::string> switches;
    if (check2 == CheckValue::Ticked)
        switches.emplace_back("-w");
    if (check3 == CheckValue::Ticked)
        switches.emplace_back("-txt");
    if (check4 == CheckValue::Ticked)
        switches.emplace_back("-direct");
    return switches;
}

void launchGame(CommandContext& context)
{
    const std::string gameFolder = requireGameFolder(context.platform.registry);
    const MainWindowControls& form = context.form;
    context.platform.starter.startProgram(
        gameFolder + GameExecutable,
        launchSwitches(form.checkValue(2), form.checkValue(3), form.checkValue(4)), gameFolder);
    context.form.minimize();
}

} // namespace velmoran
