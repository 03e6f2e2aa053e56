#pragma once

// The main function of the test programs that drive the windows: Qt's offscreen platform
// unless another is asked for, the design font, and the program kept open between tests.
#include "ui/Widgets.h"

#include <QApplication>

#include <gtest/gtest.h>

namespace velmoran::testing {

inline int runOffscreenTests(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    useDesignFont();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

} // namespace velmoran::testing
