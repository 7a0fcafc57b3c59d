#include "cli/clicontext.h"
#include "cli/webengineloader.h"

#include "browser/html/htmlparser.h"
#include "browser/html/staticbrowser.h"
#include "browser/net/pagefetcher.h"
#include "common/error.h"
#include "common/textfile.h"
#include "session/enginebrowsers.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>

using namespace Qt::StringLiterals;

namespace qh::cli {

namespace {

constexpr qsizetype ShownTextLength = 30;

// The start of an element's text, never ending in half a surrogate pair.
QString textStart(const QString &innerText)
{
    QString text = innerText;
    text.replace(u"\r\n"_s, u"\n"_s).replace(u'\r', u'\n');
    text.truncate(ShownTextLength);
    if (text.size() == ShownTextLength && text.back().isHighSurrogate())
        text.chop(1);
    return text;
}

// Keeps one element per line: line breaks and tabs inside the text are spelled out.
QString escapedForLine(QString text)
{
    return text.replace(u'\n', u"\\n"_s).replace(u'\t', u"\\t"_s);
}

void printLines(const browser::Document &document, QTextStream &out)
{
    const browser::ElementCollection all = document.all();
    for (int index = 0; index < all.length(); ++index) {
        const browser::Element element = *all.item(index);
        const std::optional<browser::Element> parent = element.parentElement();
        out << index << '\t' << element.tagName() << '\t' << (parent ? parent->sourceIndex() : -1) << '\t'
            << escapedForLine(textStart(element.innerText())) << '\n';
    }
}

void printJson(const browser::Document &document, QTextStream &out)
{
    QJsonArray elements;
    const browser::ElementCollection all = document.all();
    for (int index = 0; index < all.length(); ++index) {
        const browser::Element element = *all.item(index);
        const std::optional<browser::Element> parent = element.parentElement();
        QJsonObject object{
            {u"index"_s, index},
            {u"tagName"_s, element.tagName()},
            {u"parentIndex"_s, parent ? parent->sourceIndex() : -1},
            {u"text"_s, textStart(element.innerText())},
        };
        // The wizard and the engine know a next-page link by its inner markup.
        if (element.tagName() == u"A")
            object.insert(u"innerHTML"_s, element.innerHTML());
        elements.append(object);
    }
    out << QString::fromUtf8(QJsonDocument(elements).toJson(QJsonDocument::Indented));
}

bool isAddress(const QString &source)
{
    const QString scheme = QUrl(source).scheme().toLower();
    return scheme == u"http" || scheme == u"https" || scheme == u"file";
}

// Loads url with the web engine and prints the page once complete and, after waitMs, read again.
int printLivePage(const QUrl &url, int waitMs, const std::function<void(const browser::Document &)> &print,
                  CliContext &context)
{
    session::EngineBrowsers browsers(webEnginePluginFactory(context.err));
    browser::Browser *const browser = browsers.browserFor(templates::GrabEngine::Web);
    if (!browser) {
        context.err << "quillhaul-cli: this build has no web engine\n";
        return ExitError;
    }
    int status = ExitError;
    QObject::connect(browser, &browser::Browser::loadFinished, browser, [&](bool ok) {
        if (!ok) {
            context.err << browser->lastError().message << '\n';
            QCoreApplication::exit(status);
            return;
        }
        const std::shared_ptr<const browser::Document> document = browser->GetHtmlDocument();
        QTimer::singleShot(waitMs, browser, [&, document] {
            document->refresh([&, document] {
                // The whole page is printed: every element's values, not only those a search would ask for.
                document->readAllValues([&, document] {
                    print(*document);
                    status = ExitOk;
                    QCoreApplication::exit(status);
                });
            });
        });
    });
    browser->Navigate(url);
    QCoreApplication::exec();
    return status;
}

} // namespace

// dom [--web [--wait MS]] SOURCE [--json]: loads a page (http, https or file address, or a local file path) and
// prints its `all` collection, one element per line or as JSON. With --web the page is loaded by the web engine,
// its scripts run, and what is printed is the live page, read again MS milliseconds after it completed.
int domCommand(CliContext &context)
{
    const char usageText[] = "Usage: quillhaul-cli dom [--web [--wait MS]] SOURCE [--json]\n";
    if (context.helpRequested()) {
        context.out << usageText;
        return ExitOk;
    }
    const auto usage = [&context, &usageText] {
        context.err << usageText;
        return ExitUsage;
    };
    QString source;
    bool json = false;
    bool web = false;
    int waitMs = 0;
    for (qsizetype i = 0; i < context.args.size(); ++i) {
        const QString &arg = context.args.at(i);
        if (arg == u"--json") {
            json = true;
        } else if (arg == u"--web") {
            web = true;
        } else if (arg == u"--wait" && i + 1 < context.args.size()) {
            bool ok = false;
            waitMs = context.args.at(++i).toInt(&ok);
            if (!ok || waitMs < 0)
                return usage();
        } else if (arg.startsWith(u"--") || !source.isEmpty()) {
            return usage();
        } else {
            source = arg;
        }
    }
    if (source.isEmpty() || (waitMs > 0 && !web))
        return usage();

    const auto print = [&context, json](const browser::Document &document) {
        if (json)
            printJson(document, context.out);
        else
            printLines(document, context.out);
    };

    if (web)
        return printLivePage(isAddress(source) ? QUrl(source)
                                               : QUrl::fromLocalFile(QFileInfo(source).absoluteFilePath()),
                             waitMs, print, context);

    if (!isAddress(source)) {
        // A local file is read directly; with no header to go by, its charset is sniffed from the bytes.
        try {
            const QByteArray bytes = text::readFile(source, browser::PageFetcher::DefaultMaxBytes);
            const auto document = browser::parseHtmlDocument(bytes, QByteArray(),
                                                             QUrl::fromLocalFile(QFileInfo(source).absoluteFilePath()));
            print(*document);
            return ExitOk;
        } catch (const Error &error) {
            context.err << error.message() << '\n';
            return ExitError;
        }
    }

    browser::StaticBrowser browser;
    int status = ExitError;
    QObject::connect(&browser, &browser::Browser::loadFinished, &browser, [&](bool ok) {
        if (ok) {
            print(*browser.GetHtmlDocument());
            status = ExitOk;
        } else {
            context.err << browser.lastError().message << '\n';
        }
        QCoreApplication::exit(status);
    });
    browser.Navigate(QUrl(source));
    QCoreApplication::exec();
    return status;
}

} // namespace qh::cli
