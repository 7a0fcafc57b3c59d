#include "browser/webengineenvironment.h"

#include <QGuiApplication>

#include <gtest/gtest.h>

// The web engine's tests: Chromium needs a QGuiApplication, here offscreen and without a GPU.
int main(int argc, char **argv)
{
    qh::browser::prepareWebEngineEnvironment(true);
    QGuiApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
