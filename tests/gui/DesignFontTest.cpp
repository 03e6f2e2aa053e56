// The design font: the fitting face chosen among the system's families, and the fonts a
// self-contained copy of the program adds from the folder beside it.
#include "support/ScratchFolder.h"
#include "ui/Widgets.h"

#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

using namespace velmoran;
using namespace velmoran::testing;

namespace {

TEST(DesignFont, TheFirstFittingFaceIsChosenAndNoneWhereNoneFits)
{
    const std::pair<QStringList, const char*> cases[] = {
        {{"DejaVu Sans", "MS Sans Serif", "Liberation Sans"}, "MS Sans Serif"},
        {{"Arial", "Microsoft Sans Serif"}, "Microsoft Sans Serif"},
        {{"Arial", "Liberation Sans", "DejaVu Sans"}, "Liberation Sans"},
        {{"Noto Sans", "Arial"}, "Arial"},
        {{"DejaVu Sans", "Liberation Sans Narrow", "liberation sans"}, ""},
        {{}, ""},
    };
    for (const auto& [families, chosen] : cases)
        EXPECT_EQ(designFontFamily(families).toStdString(), chosen)
            << families.join(", ").toStdString();
}

// The font the bundle ships, as Debian's fonts-liberation installs it.
const fs::path LiberationSans = "/usr/share/fonts/truetype/liberation/LiberationSans-Regular.ttf";

TEST(DesignFont, TheFontFilesOfAFolderAreAddedAndOtherFilesPassedOver)
{
    ASSERT_TRUE(fs::exists(LiberationSans)) << "fonts-liberation is not installed";
    const ScratchFolder scratch;
    const fs::path fonts = scratch.path() / "fonts";
    fs::create_directory(fonts);
    EXPECT_TRUE(addFontsFrom(QString::fromStdString(fonts.string())).isEmpty());

    fs::copy_file(LiberationSans, fonts / "LiberationSans-Regular.ttf");
    writeFile(fonts / "README", "not a font\n");
    writeFile(fonts / "broken.ttf", "not a font either\n");
    EXPECT_EQ(addFontsFrom(QString::fromStdString(fonts.string())), QStringList{"Liberation Sans"});
    EXPECT_TRUE(
        addFontsFrom(QString::fromStdString((scratch.path() / "missing").string())).isEmpty());
}

} // namespace
