#include <QCoreApplication>

#include <gtest/gtest.h>

// QtWeb runs a local event loop and the page scripts run in QJSEngine: both
// need an application object.
int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
