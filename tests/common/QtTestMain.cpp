// GoogleTest main with a Qt core application, for tests that need an event loop, timers or
// queued signals. Link `roamnode_testmain` instead of GTest::gtest_main.
#include <QCoreApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
