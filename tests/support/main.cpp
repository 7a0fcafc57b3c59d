#include <QCoreApplication>

#include <gtest/gtest.h>

// One main for every test program: the tests use signals, timers and the network, which need an application
// object and its event loop.
int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
