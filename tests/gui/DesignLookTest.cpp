// The look the windows are designed with: font, window icons, the link pointer, and the
// icon files as the system reads them.
#include "ui/AboutWindow.h"
#include "ui/MainWindow.h"
#include "ui/OptionsWindow.h"
#include "ui/Widgets.h"

#include <QApplication>
#include <QFile>
#include <QImageReader>
#include <QtEndian>

#include <gtest/gtest.h>

using namespace velmoran;

namespace {

const QString Assets = QStringLiteral(VELMORAN_ASSETS "/");

// One image of an .ico or .cur file, from its directory entry and its bitmap header.
struct IconImage
{
    int width, height, bits, colours; // colours: the palette's size
    QPoint hotSpot;                   // cursors only
    bool operator==(const IconImage&) const = default;
};

std::vector<IconImage> readIconFile(const QString& name, int type)
{
    QFile file(Assets + name);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << name.toStdString();
    const QByteArray bytes = file.readAll();
    const auto* data = reinterpret_cast<const uchar*>(bytes.constData());
    const auto u16 = [&](qsizetype at) { return int(qFromLittleEndian<quint16>(data + at)); };
    const auto u32 = [&](qsizetype at) { return int(qFromLittleEndian<qint32>(data + at)); };
    EXPECT_EQ(u16(2), type) << "1: icon, 2: cursor";
    std::vector<IconImage> images;
    for (int i = 0; i < u16(4); ++i) {
        const qsizetype entry = 6 + 16 * i, header = u32(entry + 12);
        const int bits = u16(header + 14), used = u32(header + 32);
        images.push_back({data[entry], data[entry + 1], bits, used ? used : 1 << bits,
                          type == 2 ? QPoint(u16(entry + 4), u16(entry + 6)) : QPoint()});
        // The colour image and its mask, one above the other, as wide as the entry says.
        EXPECT_EQ(u32(header + 4), images.back().width);
        EXPECT_EQ(u32(header + 8), 2 * images.back().height);
        EXPECT_EQ(data[entry + 2], bits < 8 ? 1 << bits : 0) << "the entry's colour count";
    }
    return images;
}

TEST(DesignLook, IconFilesHoldTheDesignedImages)
{
    // The program file's icon: one 32 x 32 image in 256 colours.
    EXPECT_EQ(readIconFile("velmoran.ico", 1), (std::vector<IconImage>{{32, 32, 8, 256, {}}}));

    // The link pointer: 32 x 32 and 16 x 16 in 16 colours, each with its hot spot at the
    // finger tip, an opaque pixel on the picture's topmost row.
    const std::vector<IconImage> pointer = readIconFile("link.cur", 2);
    ASSERT_EQ(pointer.size(), 2u);
    QImageReader reader(Assets + "link.cur");
    for (int i = 0; i < 2; ++i) {
        const int size = i == 0 ? 32 : 16;
        EXPECT_EQ(pointer[i], (IconImage{size, size, 4, 16, pointer[i].hotSpot}));
        reader.jumpToImage(i);
        const QImage image = reader.read();
        ASSERT_EQ(image.size(), QSize(size, size));
        EXPECT_EQ(qAlpha(image.pixel(pointer[i].hotSpot)), 255);
        for (int y = 0; y < pointer[i].hotSpot.y(); ++y)
            for (int x = 0; x < size; ++x)
                EXPECT_EQ(qAlpha(image.pixel(x, y)), 0) << x << "," << y;
    }
}

TEST(DesignLook, WindowsShowTheDesignFontIconsAndPointer)
{
    MainWindow form;
    OptionsWindow options;
    AboutWindow about;
    const QStringList faces{"MS Sans Serif", "Microsoft Sans Serif", "Liberation Sans", "Arial"};
    EXPECT_TRUE(faces.contains(QApplication::font().family()));
    for (const QWidget* window : std::initializer_list<const QWidget*>{&form, &options, &about})
        for (const QWidget* control : window->findChildren<QWidget*>())
            if (!control->objectName().isEmpty() && !control->objectName().startsWith("qt_")) {
                const std::string name = control->objectName().toStdString();
                EXPECT_EQ(control->font().pointSizeF(), 8.25) << name;
                EXPECT_EQ(control->font().family(), QApplication::font().family()) << name;
                // lblURL alone has a pointer of its own: the hand, hot spot and all.
                EXPECT_EQ(control->testAttribute(Qt::WA_SetCursor), name == "lblURL") << name;
            }
    const QCursor pointer = form.findChild<QWidget*>(QStringLiteral("lblURL"))->cursor();
    EXPECT_EQ(pointer.shape(), Qt::BitmapCursor);
    EXPECT_EQ(pointer.pixmap().size(), QSize(32, 32));
    EXPECT_EQ(pointer.hotSpot(), readIconFile("link.cur", 2).at(0).hotSpot);
    EXPECT_EQ(form.cursor().shape(), Qt::ArrowCursor);

    // The program icon on the main and Options windows only; nothing application-wide.
    ASSERT_TRUE(QApplication::windowIcon().isNull());
    EXPECT_TRUE(about.windowIcon().isNull());
    for (const QWidget* window : std::initializer_list<const QWidget*>{&form, &options})
        EXPECT_EQ(window->windowIcon().pixmap(32, 32).toImage(), programPixmap().toImage());
}

} // namespace
