#include "bus/MetaTypes.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

// The manager's slots and the session timer need a Qt application on the test's main thread.
int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    roamnode::registerMetaTypes();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
