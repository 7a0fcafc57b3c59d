#include "browser/webengineenvironment.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QLoggingCategory>

#include <unistd.h>

namespace qh::browser {

namespace {

void addChromiumFlag(QByteArray &flags, const QByteArray &flag)
{
    if (flags.split(' ').contains(flag))
        return;
    if (!flags.isEmpty())
        flags += ' ';
    flags += flag;
}

} // namespace

void prepareWebEngineEnvironment(bool headless)
{
    if (::geteuid() == 0 && qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX"))
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", QByteArray("1"));

    QByteArray flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
    // The grab's page has no view, so Chromium takes it for a background tab and runs its timers once a second at
    // most: a chapter that a script fills in a moment after loading would then take a second or more to appear.
    addChromiumFlag(flags, "--disable-background-timer-throttling");
    addChromiumFlag(flags, "--disable-renderer-backgrounding");
    // Chromium refuses a frame's navigations past 200 in 10 seconds, and a clicked script link counts twice (its
    // javascript: address, then the page it sends the browser to): a grab faster than 50 such pages a second would
    // see the next link do nothing and take the page for the book's last.
    addChromiumFlag(flags, "--disable-ipc-flooding-protection");
    if (headless) {
        addChromiumFlag(flags, "--disable-gpu");
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", QByteArray("offscreen"));
        // Its start-up report (GL type, flags) is noise on a terminal.
        QLoggingCategory::setFilterRules(QStringLiteral("qt.webenginecontext.info=false"));
    }
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", flags);
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
}

} // namespace qh::browser
