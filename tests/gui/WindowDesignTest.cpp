// The three windows as designed: one table per window of (control, kind, caption, rectangle
// in twips, tab position), listed bottom to top as stacked; their font, icons and pointer.
#include "GuiTest.h"
#include "app/Controller.h"
#include "support/SampleGame.h"
#include "ui/MainWindow.h"
#include "ui/Widgets.h"

#include <QCheckBox>
#include <QFile>
#include <QImageReader>
#include <QLabel>
#include <QListWidget>
#include <QMenuBar>
#include <QScreen>
#include <QtEndian>

using namespace velmoran;
using namespace velmoran::testing;

namespace {

struct Control
{
    const char* name;
    const char* kind;
    const char* caption; // nullptr: none
    int left, top, width, height;
    int tab; // place in the tab order, -1: takes no focus by Tab
};

const char* const CreateText =
    "The Create button will make the \\data\\global\\excel folders in your D2 folder. if you "
    "then use the -txt option and Launch D2 the bin files will be generated, you can then get "
    "them and insert them in your mpq like you did before. The delete button delete's the bin "
    "files and remove's the \\data\\global\\excel folders. i should note that storm.dll is "
    "copied into the  ..\\data folder please leave it there !!";
const char* const CreditsText =
    "This program will let you Launch any mod , or test your mods , it can generate bin files "
    "using the -txt and -direct options , or you can run Diablo II in a window using the -w "
    "option. i would like to thank Brindlecove , Ostrevin  , Quorvane and Halmerick thanks to "
    "Plenwick for helping me with registry issue and Varnhoe for all the testing , you should "
    "use this tool at own risk!!";

const std::vector<Control> MainDesign = {
    {"Label6", "QLabel", "This will backup the original patch_d2", 1440, 120, 3135, 495, -1},
    {"Label2", "QLabel", "This will search for the modded patch", 1440, 840, 3015, 615, -1},
    {"Label1", "QLabel", "                    select modded patch from list below", 0, 1560, 4695,
     1215, -1},
    {"Label4", "QLabel", "This will replace the original patch_d2.mpq with the one you select",
     1440, 2760, 2895, 615, -1},
    {"lblLaunch", "QLabel", "This will Launch Diablo II or LoD", 1440, 3480, 2775, 375, -1},
    {"Label5", "QLabel", "This will Undo the whole thing so you will have a unmodded game again",
     1440, 4200, 2775, 615, -1},
    {"Label7", "QLabel", "Please visit our website", 1320, 4920, 1815, 495, -1},
    {"lblURL", "velmoran::LinkLabel", "velmoran.example.org", 960, 5160, 2655, 495, -1},
    {"cmdFind", "QPushButton", "Find", 120, 840, 1215, 495, 0},
    {"List1", "QListWidget", nullptr, 120, 1800, 4095, 840, 1},
    {"cmdReplace", "QPushButton", "Replace", 120, 2760, 1215, 495, 2},
    {"cmdUndo", "QPushButton", "Undo", 120, 4200, 1215, 495, 3},
    {"cmdBackup", "QPushButton", "Backup", 120, 120, 1215, 495, 4},
    {"Drive1", "QComboBox", nullptr, 1440, 1080, 2775, 315, 5},
    {"cmdLaunch", "QPushButton", "Launch D2", 120, 3480, 1215, 495, 6},
    {"Check1", "QCheckBox", "Backup \" save \"  folder too ?", 1440, 360, 2895, 255, 7},
    {"Check2", "QCheckBox", "- w", 1680, 3720, 1215, 255, 8},
    {"Check3", "QCheckBox", "- txt", 2400, 3720, 735, 255, 9},
    {"Check4", "QCheckBox", "- direct", 3120, 3720, 975, 255, 10},
    {"Picture1", "QLabel", nullptr, 240, 4920, 615, 495, -1},
    {"Picture2", "QLabel", nullptr, 3720, 4920, 1215, 495, -1},
    {"Dir1", "QWidget", nullptr, 3720, 5400, 495, 315, -1}};
const std::vector<Control> OptionsDesign = {
    {"lblCreate", "QLabel", CreateText, 120, 840, 4335, 1455, -1},
    {"cmdCreate", "QPushButton", "Create", 360, 120, 1215, 495, 0},
    {"cmdDelete", "QPushButton", "Delete", 3000, 120, 1215, 495, 1},
    {"cmdDone", "QPushButton", "Done", 1680, 2280, 1215, 495, 2},
    {"Picture1", "QLabel", nullptr, 2040, 120, 615, 615, -1}};
const std::vector<Control> AboutDesign = {
    {"Label1", "QLabel", "Orvick's Velmoran", 1080, 240, 2535, 375, -1},
    {"Label3", "QLabel", "Version " VELMORAN_VERSION, 1680, 480, 1215, 375, -1},
    {"Label2", "QLabel", CreditsText, 120, 960, 4455, 1335, -1},
    {"Label4", "QLabel", "Later All , Orvick", 1320, 2400, 1215, 495, -1},
    {"Picture1", "QLabel", nullptr, 480, 120, 615, 495, -1},
    {"Picture2", "QLabel", nullptr, 3600, 120, 615, 495, -1},
    {"cmdWhatever", "QPushButton", "Whatever", 2880, 2280, 1215, 495, 0}};

struct Window
{
    const char* menuItem; // nullptr: the main window
    const char* name;
    const char* title;
    QSize size; // the main window's client area, or the window
    const std::vector<Control>& design;
    QStringList pictures; // each the program's picture, at the top left
};
const Window Windows[] = {
    {nullptr, "Form1", "Velmoran", {292, 378}, MainDesign, {"Picture1"}},
    {"Options", "frmCreate", "Velmoran", {312, 191}, OptionsDesign, {"Picture1"}},
    {"About",
     "frmAbout",
     "About Orvick's Velmoran",
     {312, 190},
     AboutDesign,
     {"Picture1", "Picture2"}}};

// Every control of `client` as the table has it, and nothing else; a wrapping label's
// text fits down to its last line's baseline; Tab goes round in the table's tab order.
void expectDesign(QWidget* client, const std::vector<Control>& design)
{
    std::vector<std::string> stacked;
    for (QObject* child : client->children())
        if (child->isWidgetType() && !child->objectName().startsWith("qt_"))
            stacked.push_back(child->objectName().toStdString());
    std::vector<std::string> names, tabOrder(design.size());
    for (const Control& c : design) {
        names.push_back(c.name);
        auto* w = client->findChild<QWidget*>(c.name, Qt::FindDirectChildrenOnly);
        ASSERT_NE(w, nullptr) << c.name;
        EXPECT_STREQ(w->metaObject()->className(), c.kind) << c.name;
        EXPECT_EQ(w->geometry(), QRect(c.left / 15, c.top / 15, c.width / 15, c.height / 15))
            << c.name;
        EXPECT_EQ(w->isVisible(), std::string(c.name) != "Dir1") << c.name;
        auto* label = qobject_cast<QLabel*>(w);
        auto* button = qobject_cast<QAbstractButton*>(w);
        EXPECT_EQ((label    ? label->text()
                   : button ? button->text()
                            : QString())
                      .toStdString(),
                  c.caption ? c.caption : "")
            << c.name;
        if (label && c.caption) {
            const QFontMetrics metrics(label->font());
            const QRect needed = metrics.boundingRect(
                label->contentsRect(), Qt::TextWordWrap | Qt::AlignLeft | Qt::AlignTop,
                label->text());
            EXPECT_LE(needed.height() - metrics.descent(), label->contentsRect().height())
                << c.name << " is cut off";
        }
        if (c.tab >= 0)
            tabOrder[static_cast<std::size_t>(c.tab)] = c.name;
        else
            EXPECT_TRUE(label || !(w->focusPolicy() & Qt::TabFocus)) << c.name;
    }
    EXPECT_EQ(stacked, names) << "stacked bottom to top as designed, nothing beside the design";
    std::erase(tabOrder, "");
    EXPECT_EQ(QApplication::focusWidget()->objectName().toStdString(), tabOrder[0]);
    for (std::size_t i = 1; i <= tabOrder.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget()->objectName().toStdString(),
                  tabOrder[i % tabOrder.size()]);
    }
    // Enter and Escape trigger nothing and close nothing.
    for (const auto key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape})
        QTest::keyClick(QApplication::focusWidget(), key);
    QApplication::processEvents();
    EXPECT_TRUE(client->window()->isVisible());
}

TEST(WindowDesign, EachWindowAsDesignedInTheDesignFontWithItsIcon)
{
    ScratchFolder scratch{"velmoran-design"};
    SampleGame game{scratch.path()};
    MessageBoxAnswerer answerer;
    Controller controller{game.platform()};
    MainWindow* form = controller.mainWindow();
    form->show();
    const QStringList faces{"MS Sans Serif", "Microsoft Sans Serif", "Liberation Sans", "Arial"};
    EXPECT_TRUE(faces.contains(QApplication::font().family()));
    EXPECT_TRUE(QApplication::windowIcon().isNull()) << "nothing application-wide";
    for (const Window& w : Windows) {
        SCOPED_TRACE(w.name);
        if (w.menuItem)
            form->findChild<QAction*>(w.menuItem)->trigger();
        QWidget* window = QApplication::topLevelWidgets().at(0);
        for (QWidget* top : QApplication::topLevelWidgets())
            window = top->objectName() == w.name ? top : window;
        QApplication::setActiveWindow(window);
        ASSERT_TRUE(window->objectName() == w.name && QTest::qWaitForWindowActive(window));
        QWidget* client = w.menuItem ? window : form->centralWidget();
        expectDesign(client, w.design);
        EXPECT_EQ(window->windowTitle(), w.title);
        EXPECT_EQ(client->size(), w.size);
        if (w.menuItem) { // fixed in size, its frame in the middle of its screen, modeless
            EXPECT_EQ(window->minimumSize(), window->maximumSize());
            EXPECT_LE(
                (window->screen()->availableGeometry().center() - window->frameGeometry().center())
                    .manhattanLength(),
                1);
            EXPECT_EQ(window->parentWidget(), nullptr);
            EXPECT_EQ(window->windowModality(), Qt::NonModal);
        }
        for (const QString& name : w.pictures) {
            auto* picture = window->findChild<QLabel*>(name);
            EXPECT_EQ(picture->pixmap().toImage(), programPixmap().toImage());
            EXPECT_EQ(picture->alignment(), Qt::AlignLeft | Qt::AlignTop);
        }
        // The program icon on the main and Options windows only.
        EXPECT_EQ(window->windowIcon().pixmap(32, 32).toImage(),
                  w.pictures.size() == 1 ? programPixmap().toImage() : QImage());
        // 8.25 pt throughout; lblURL alone has a pointer of its own.
        for (const QWidget* control : window->findChildren<QWidget*>())
            if (!control->objectName().isEmpty() && !control->objectName().startsWith("qt_")) {
                const std::string name = control->objectName().toStdString();
                EXPECT_EQ(control->font().pointSizeF(), 8.25) << name;
                EXPECT_EQ(control->font().family(), QApplication::font().family()) << name;
                EXPECT_EQ(control->testAttribute(Qt::WA_SetCursor), name == "lblURL") << name;
            }
    }
    QStringList menu;
    for (QAction* a : form->menuBar()->actions())
        menu << a->text();
    EXPECT_EQ(menu, (QStringList{"&Options", "&About", "&Exit"}));
    EXPECT_EQ(form->list1()->count(), 0);
    EXPECT_EQ(form->list1()->layoutMode(), QListView::Batched); // thousands of entries flow
    for (int n = 1; n <= 4; ++n)
        EXPECT_EQ(form->check(n)->checkState(), Qt::Unchecked) << n;
    EXPECT_TRUE(form->lblURL()->font().underline());
    EXPECT_EQ(form->lblURL()->palette().color(QPalette::WindowText),
              form->lblURL()->palette().color(QPalette::Highlight));
    EXPECT_EQ(form->cursor().shape(), Qt::ArrowCursor);
    QWidget* options = controller.secondaryWindows().options();
    EXPECT_EQ(options->childAt(150, 152)->objectName(), "cmdDone"); // clear of lblCreate
    auto* label1 = controller.secondaryWindows().about()->findChild<QLabel*>("Label1");
    EXPECT_LE(label1->y() + QFontMetrics(label1->font()).height(),
              label1->parentWidget()->findChild<QLabel*>("Label3")->y());
    EXPECT_TRUE(form->isEnabled());
    EXPECT_TRUE(answerer.seen.empty());
    EXPECT_TRUE(game.starter.started.empty());
}

// The images of an .ico (type 1) or .cur (2) file: size, colour bits, palette size, hot spot;
// each a colour image and its mask one above the other, as wide as its entry says.
std::vector<std::tuple<int, int, int, QPoint>> iconFile(const QString& name, int type)
{
    QFile file(VELMORAN_ASSETS "/" + name);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << name.toStdString();
    const QByteArray bytes = file.readAll();
    const auto* data = reinterpret_cast<const uchar*>(bytes.constData());
    const auto u16 = [&](qsizetype at) { return int(qFromLittleEndian<quint16>(data + at)); };
    const auto u32 = [&](qsizetype at) { return int(qFromLittleEndian<qint32>(data + at)); };
    EXPECT_EQ(u16(2), type);
    std::vector<std::tuple<int, int, int, QPoint>> images;
    for (int i = 0; i < u16(4); ++i) {
        const qsizetype entry = 6 + 16 * i, header = u32(entry + 12);
        const int bits = u16(header + 14), used = u32(header + 32);
        EXPECT_EQ(data[entry], data[entry + 1]);
        EXPECT_EQ(u32(header + 4), data[entry]);
        EXPECT_EQ(u32(header + 8), 2 * data[entry + 1]);
        EXPECT_EQ(data[entry + 2], bits < 8 ? 1 << bits : 0) << "the entry's colour count";
        images.emplace_back(data[entry], bits, used ? used : 1 << bits,
                            type == 2 ? QPoint(u16(entry + 4), u16(entry + 6)) : QPoint());
    }
    return images;
}

TEST(WindowDesign, IconFilesHoldTheDesignedImagesAndThePointerIsTheLinks)
{
    using Image = std::tuple<int, int, int, QPoint>;
    EXPECT_EQ(iconFile("velmoran.ico", 1), (std::vector<Image>{{32, 8, 256, {}}}));
    // The link pointer: 32 x 32 and 16 x 16 in 16 colours, each with its hot spot at the
    // finger tip, an opaque pixel on the picture's topmost row.
    const auto pointer = iconFile("link.cur", 2);
    ASSERT_EQ(pointer.size(), 2u);
    QImageReader reader(VELMORAN_ASSETS "/link.cur");
    for (int i = 0; i < 2; ++i) {
        const auto [size, bits, colours, hotSpot] = pointer[std::size_t(i)];
        EXPECT_EQ(pointer[std::size_t(i)], (Image{32 >> i, 4, 16, hotSpot}));
        reader.jumpToImage(i);
        const QImage image = reader.read();
        ASSERT_EQ(image.size(), QSize(size, size));
        EXPECT_EQ(qAlpha(image.pixel(hotSpot)), 255);
        for (int y = 0; y < hotSpot.y(); ++y)
            for (int x = 0; x < size; ++x)
                EXPECT_EQ(qAlpha(image.pixel(x, y)), 0) << x << "," << y;
    }
    MainWindow form;
    const QCursor cursor = form.lblURL()->cursor();
    EXPECT_EQ(cursor.shape(), Qt::BitmapCursor);
    EXPECT_EQ(cursor.pixmap().size(), QSize(32, 32));
    EXPECT_EQ(cursor.hotSpot(), std::get<3>(pointer[0]));
}

} // namespace
