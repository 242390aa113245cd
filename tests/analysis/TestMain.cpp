// The page renderer runs scripts in a QJSEngine, which needs an application
// object; this main replaces gtest_main's for this binary.
#include <QCoreApplication>

#include <gtest/gtest.h>

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
