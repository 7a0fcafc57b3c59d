// What the web engine alone costs a page of the script-driven book that web_grab_benchmark.sh serves: a viewless
// page, set up as the grab's browser sets its page up, goes from the first chapter to the last by running each
// page's own next-page script once the page has loaded, and reads nothing (or, with --read, each page's body text,
// which lays the page out once, 1600 pixels wide as the grab's pages are). The grab cannot be faster than this; the
// benchmark prints both. --bare: Chromium with no script of ours at all (not even the layout width), the engine's own
// cost of a script-linked page.
//   webenginefloor URL CHAPTERS [--read | --bare]
#include "browser/html/stylesheet.h"
#include "browser/web/websnapshot.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QTextStream>
#include <QTimer>
#include <QWebEngineLoadingInfo>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineSettings>

using namespace Qt::StringLiterals;

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 3) {
        QTextStream(stderr) << "usage: webenginefloor URL CHAPTERS [--read | --bare]\n";
        return 2;
    }
    const QUrl first(args.at(1));
    const int chapters = args.at(2).toInt();
    const bool read = args.contains(u"--read"_s);
    const bool bare = args.contains(u"--bare"_s);

    QWebEngineProfile profile;
    QWebEnginePage page(&profile);
    page.setVisible(true);
    page.settings()->setAttribute(QWebEngineSettings::AutoLoadImages, false);
    page.settings()->setAttribute(QWebEngineSettings::ErrorPageEnabled, false);
    // Laid out as wide as the grab lays its pages out, so that a text read costs what it costs the grab.
    QWebEngineScript layout;
    layout.setSourceCode(qh::browser::webLayoutScript(qh::browser::css::ReadingViewportWidth));
    layout.setWorldId(QWebEngineScript::ApplicationWorld);
    layout.setInjectionPoint(QWebEngineScript::DocumentCreation);
    if (!bare)
        page.scripts().insert(layout);

    int loaded = 0;
    QElapsedTimer clock;
    qint64 secondMs = -1;
    const auto done = [&] {
        const double steadyMs = double(clock.elapsed() - secondMs);
        QTextStream(stdout)
            << u"floor%1: %2 pages/s from the second chapter's load to the last one's (%3 ms a page)\n"_s
                   .arg(read   ? u" with a text read"_s
                        : bare ? u" of Chromium alone"_s
                               : QString())
                   .arg((loaded - 2) * 1000.0 / steadyMs, 0, 'f', 1)
                   .arg(steadyMs / (loaded - 2), 0, 'f', 1);
        app.quit();
    };
    const auto goOn = [&] {
        if (loaded == chapters)
            return done();
        page.runJavaScript(u"next()"_s, QWebEngineScript::MainWorld);
    };
    QObject::connect(&page, &QWebEnginePage::loadingChanged, &app, [&](const QWebEngineLoadingInfo &info) {
        if (info.status() == QWebEngineLoadingInfo::LoadStartedStatus)
            return;
        if (info.status() != QWebEngineLoadingInfo::LoadSucceededStatus) {
            QTextStream(stderr) << "load failed: " << info.url().toString() << '\n';
            app.exit(1);
            return;
        }
        if (++loaded == 2) {
            clock.start();
            secondMs = 0;
        }
        if (!read)
            return goOn();
        page.runJavaScript(u"document.body.innerText.length"_s, QWebEngineScript::ApplicationWorld,
                           [&](const QVariant &) { goOn(); });
    });
    page.load(first);
    QTimer::singleShot(120'000, &app, [&app] { app.exit(1); });
    return app.exec();
}
