#pragma once

#include <QRect>
#include <QWidget>

namespace velmoran {

// Window designs are measured in twips: 15 twips to a pixel at 96 dots per inch.
constexpr int twipsToPixels(int twips) { return twips / 15; }

inline QRect twipsRect(int left, int top, int width, int height)
{
    return QRect(twipsToPixels(left), twipsToPixels(top), twipsToPixels(width),
                 twipsToPixels(height));
}

// Names the widget and places it from its design rectangle.
template <typename Widget>
Widget* placed(Widget* widget, const char* name, int left, int top, int width, int height)
{
    widget->setObjectName(QString::fromLatin1(name));
    widget->setGeometry(twipsRect(left, top, width, height));
    return widget;
}

} // namespace velmoran
