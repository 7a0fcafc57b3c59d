#include "browser/webengineenvironment.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QLoggingCategory>

#include <unistd.h>

namespace qh::browser {

void prepareWebEngineEnvironment(bool headless)
{
    if (::geteuid() == 0 && qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX"))
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", QByteArray("1"));
    if (headless) {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", QByteArray("offscreen"));
        if (qEnvironmentVariableIsEmpty("QTWEBENGINE_CHROMIUM_FLAGS"))
            qputenv("QTWEBENGINE_CHROMIUM_FLAGS", QByteArray("--disable-gpu"));
        // Its start-up report (GL type, flags) is noise on a terminal.
        QLoggingCategory::setFilterRules(QStringLiteral("qt.webenginecontext.info=false"));
    }
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
}

} // namespace qh::browser
