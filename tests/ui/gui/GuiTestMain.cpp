// The window tests need a GUI application; without a display they use Qt's offscreen platform.

#include "bus/MetaTypes.h"

#include <QGuiApplication>

#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv)
{
    // Keeps a platform chosen by the caller (Xvfb, say); otherwise no display is needed.
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    // The offscreen platform has no OpenGL; Qt Quick then draws in software.
    ::setenv("QT_QUICK_BACKEND", "software", 0);
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::GTEST_FLAG(death_test_style) = "threadsafe";
    roamnode::registerMetaTypes();
    QGuiApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
