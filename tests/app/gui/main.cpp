#include <gtest/gtest.h>

#include "platform/qt/qt_application.h"

int main(int argc, char** argv) {
    // Listing the tests needs no display either.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    platform::QtApplication application(argc, argv);
    application.SetTitle("TOVEKA Vozuvor Ezirezodoz");
    return RUN_ALL_TESTS();
}
