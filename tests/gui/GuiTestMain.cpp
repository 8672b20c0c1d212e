// One QApplication for every GUI test; headless unless a platform is asked for.
#include <gtest/gtest.h>

#include <QApplication>

#include "support/TestProcess.h"

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    test::TestProcess process;
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
