// Test main for the window tests: the application object of the program, so that exceptions leaving a
// handler reach the error report through its notify().
#include "app/Application.h"

#include <cstdlib>
#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    TApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Velmora Data Logger"));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
