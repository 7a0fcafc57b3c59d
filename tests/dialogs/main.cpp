#include <QApplication>
#include <QByteArray>

#include <gtest/gtest.h>

// The dialog tests need widgets, so this main makes a QApplication; it draws offscreen unless told otherwise, also
// when ctest lists the tests without the test's environment.
int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", QByteArray("offscreen"));
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
