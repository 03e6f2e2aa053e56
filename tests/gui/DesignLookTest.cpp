// The look the windows are designed with: their font, the link pointer, the window icons
// and the icon files as the system reads them.
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

// One image of an .ico or .cur file, from its directory entry and its bitmap header.
struct IconImage
{
    int width, height, bits, colours; // colours: the palette's size
    QPoint hotSpot;                   // cursors only
    bool operator==(const IconImage&) const = default;
};

std::vector<IconImage> readIconFile(const QString& path, int type)
{
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
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
        // The bitmap: the colour image and its mask, one above the other, on one plane.
        EXPECT_EQ(u32(header), 40);
        EXPECT_EQ(u32(header + 4), images.back().width);
        EXPECT_EQ(u32(header + 8), 2 * images.back().height);
        EXPECT_EQ(u16(header + 12), 1);
        EXPECT_EQ(data[entry + 2], bits < 8 ? 1 << bits : 0) << "the entry's colour count";
    }
    return images;
}

const QString Assets = QStringLiteral(VELMORAN_ASSETS "/");

TEST(DesignLook, EveryControlDrawsInMsSansSerif825)
{
    EXPECT_EQ(QApplication::font().pointSizeF(), 8.25);
    const QStringList faces{"MS Sans Serif", "Microsoft Sans Serif", "Liberation Sans", "Arial"};
    EXPECT_TRUE(faces.contains(QApplication::font().family()))
        << QApplication::font().family().toStdString();
    MainWindow form;
    OptionsWindow options;
    AboutWindow about;
    for (const QWidget* window : {static_cast<QWidget*>(&form), static_cast<QWidget*>(&options),
                                  static_cast<QWidget*>(&about)})
        for (const QWidget* control : window->findChildren<QWidget*>())
            if (!control->objectName().isEmpty() && !control->objectName().startsWith("qt_")) {
                EXPECT_EQ(control->font().pointSizeF(), 8.25)
                    << control->objectName().toStdString();
                EXPECT_EQ(control->font().family(), QApplication::font().family());
            }
}

TEST(DesignLook, TheLinkPointerIsAHandPointingAtItsHotSpot)
{
    const std::vector<IconImage> images = readIconFile(Assets + "link.cur", 2);
    ASSERT_EQ(images.size(), 2u);
    EXPECT_EQ((IconImage{32, 32, 4, 16, images[0].hotSpot}), images[0]);
    EXPECT_EQ((IconImage{16, 16, 4, 16, images[1].hotSpot}), images[1]);
    // The hot spot is the finger tip: an opaque pixel on the picture's topmost row.
    QImageReader reader(Assets + "link.cur");
    for (const IconImage& expected : images) {
        reader.jumpToImage(int(&expected - images.data()));
        const QImage image = reader.read();
        ASSERT_EQ(image.size(), QSize(expected.width, expected.height));
        EXPECT_EQ(qAlpha(image.pixel(expected.hotSpot)), 255);
        for (int y = 0; y < expected.hotSpot.y(); ++y)
            for (int x = 0; x < image.width(); ++x)
                EXPECT_EQ(qAlpha(image.pixel(x, y)), 0) << x << "," << y;
    }

    // lblURL shows the 32 x 32 image with its hot spot; everything else the default arrow.
    MainWindow form;
    const QCursor pointer = form.findChild<QWidget*>(QStringLiteral("lblURL"))->cursor();
    EXPECT_EQ(pointer.shape(), Qt::BitmapCursor);
    EXPECT_EQ(pointer.pixmap().size(), QSize(32, 32));
    EXPECT_EQ(pointer.hotSpot(), images[0].hotSpot);
    EXPECT_EQ(form.cursor().shape(), Qt::ArrowCursor);
    for (const QWidget* control : form.findChildren<QWidget*>())
        if (control->objectName() != QStringLiteral("lblURL")) {
            EXPECT_FALSE(control->testAttribute(Qt::WA_SetCursor))
                << control->objectName().toStdString();
        }
}

TEST(DesignLook, TheProgramIconIsOne256ColourImage)
{
    EXPECT_EQ(readIconFile(Assets + "velmoran.ico", 1),
              (std::vector<IconImage>{{32, 32, 8, 256, QPoint()}}));
    // The same picture as the windows' icon, whose soft edges become opaque or clear.
    const QImage icon(Assets + "velmoran.ico");
    const QImage windows(Assets + "velmoran.png");
    ASSERT_EQ(icon.size(), windows.size());
    int differing = 0;
    for (int y = 0; y < icon.height(); ++y)
        for (int x = 0; x < icon.width(); ++x) {
            const QRgb got = icon.pixel(x, y), want = windows.pixel(x, y);
            differing += qAlpha(want) >= 128 ? got != (want | 0xff000000u) : qAlpha(got) != 0;
        }
    EXPECT_EQ(differing, 0);
}

TEST(DesignLook, OnlyTheMainAndOptionsWindowsCarryTheProgramIcon)
{
    ASSERT_TRUE(QApplication::windowIcon().isNull()) << "an icon set for the whole program";
    MainWindow form;
    OptionsWindow options;
    AboutWindow about;
    EXPECT_TRUE(about.windowIcon().isNull());
    for (const QWidget* window : {static_cast<QWidget*>(&form), static_cast<QWidget*>(&options)})
        EXPECT_EQ(window->windowIcon().pixmap(32, 32).toImage(), programPixmap().toImage());
}

} // namespace
