#include <QApplication>
#include <QByteArray>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "browser/webengineenvironment.h"
#include "gui/testenvironment.h"

// The window tests need widgets, so this main makes a QApplication, offscreen unless told otherwise. HOME and the
// XDG folders point into a temporary folder, so no test touches the real user's documents or data.
int main(int argc, char **argv)
{
    QTemporaryDir home;
    if (!home.isValid())
        return 2;
    qh::test::prepareWindowTestEnvironment(home);
    qh::browser::prepareWebEngineEnvironment(true);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
