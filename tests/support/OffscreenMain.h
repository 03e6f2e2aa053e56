#pragma once

// The main function of the test programs that drive the windows: Qt's offscreen platform
// unless another is asked for, the design font, and the program kept open between tests;
// and the wait for the search's threads to end.
#include "app/SearchRunner.h"
#include "core/TimeLimitedScanner.h"
#include "ui/Widgets.h"

#include <QApplication>
#include <QTest>

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

// Waits up to 20 s for every ended walk to be joined and every read left behind to end; how
// many are left.
inline auto walkThreadsLeft()
{
    (void)QTest::qWaitFor(
        [] { return SearchRunner::joinEndedWalks() + ThreadLeftBehind::count() == 0; }, 20000);
    return ThreadLeftBehind::count() + SearchRunner::joinEndedWalks();
}

} // namespace velmoran::testing
