#include <QCoreApplication>
#include <gtest/gtest.h>

// Tests of code that dispatches onto the main thread need a running Qt core
// application; no display is touched here.
int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
