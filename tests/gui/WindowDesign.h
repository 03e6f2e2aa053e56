#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

#include <span>
#include <string>
#include <vector>

namespace velmoran::testing {

// One control of a window design: name, caption (nullptr: none), rectangle in twips.
struct ControlDesign
{
    const char* name;
    const char* caption;
    int left, top, width, height;
};

inline QString captionOf(const QWidget* w)
{
    if (auto* button = qobject_cast<const QAbstractButton*>(w))
        return button->text();
    if (auto* label = qobject_cast<const QLabel*>(w))
        return label->text();
    return {};
}

// Every control has its name, caption and rectangle (15 twips to a pixel); a wrapping
// label's text fits inside its rectangle down to its last line's baseline, so no line is
// lost (only the descenders of a last line may touch the edge).
inline void expectDesign(const QWidget* window, std::span<const ControlDesign> design)
{
    for (const ControlDesign& d : design) {
        auto* w = window->findChild<QWidget*>(QString::fromLatin1(d.name));
        ASSERT_NE(w, nullptr) << d.name;
        EXPECT_EQ(w->parentWidget(), window) << d.name;
        EXPECT_EQ(w->geometry(), QRect(d.left / 15, d.top / 15, d.width / 15, d.height / 15))
            << d.name;
        EXPECT_TRUE(w->isVisible()) << d.name;
        if (!d.caption)
            continue;
        EXPECT_EQ(captionOf(w).toStdString(), d.caption) << d.name;
        if (auto* label = qobject_cast<QLabel*>(w)) {
            const QFontMetrics metrics(label->font());
            const QRect needed = metrics.boundingRect(
                label->contentsRect(), Qt::TextWordWrap | Qt::AlignLeft | Qt::AlignTop,
                label->text());
            EXPECT_LE(needed.height() - metrics.descent(), label->contentsRect().height())
                << d.name << " is cut off at the bottom";
        }
    }
}

// The window's top-level children, bottom first: each lies above all before it.
inline int stackIndex(const QWidget* window, const char* name)
{
    return static_cast<int>(
        window->children().indexOf(window->findChild<QWidget*>(QString::fromLatin1(name))));
}

// The window, with its frame, stands in the middle of its screen (a pixel off for rounding).
inline void expectCentred(const QWidget* window)
{
    const QPoint centre = window->screen()->availableGeometry().center();
    const QPoint mine = window->frameGeometry().center();
    EXPECT_LE((centre - mine).manhattanLength(), 1)
        << "window centre " << mine.x() << "," << mine.y() << " screen centre " << centre.x() << ","
        << centre.y();
}

// The focus moves through these controls in this order with Tab, and back to the first.
inline void expectTabOrder(QWidget* window, const std::vector<const char*>& order)
{
    for (std::size_t i = 1; i <= order.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        const char* expected = order[i % order.size()];
        EXPECT_EQ(QApplication::focusWidget(), window->findChild<QWidget*>(expected)) << expected;
    }
}

} // namespace velmoran::testing
