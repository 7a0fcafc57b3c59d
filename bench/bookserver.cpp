// Serves a generated book on loopback for the grab benchmark and prints the first chapter's address, the port and
// what the grab needs to know (title, content and parent positions), then serves until it is killed.
#include "demo/httpserver.h"
#include "demo/samplebook.h"

#include <QCoreApplication>
#include <QTextStream>

#include <csignal>

using namespace Qt::StringLiterals;

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int chapters = args.size() > 1 ? args.at(1).toInt() : 2000;
    const int characters = args.size() > 2 ? args.at(2).toInt() : 2000;

    const qh::demo::SampleBook book(chapters, characters);
    qh::demo::HttpServer server;
    for (int chapter = 1; chapter <= chapters; ++chapter)
        server.setResponse(book.chapterPath(chapter),
                           qh::demo::HttpResponse::page(book.chapterPage(chapter), "text/html; charset=gbk"));
    server.setPage(book.indexPath(), "<html><body>index</body></html>", "text/html");

    const qh::demo::TemplatePositions at = book.templatePositions();
    const QByteArray first = book.chapterPage(1);

    QTextStream out(stdout);
    out << "url=" << server.url(book.chapterPath(1)).toString() << '\n'
        << "port=" << server.port() << '\n'
        << "lastpath=" << book.chapterPath(chapters) << '\n'
        << "pagebytes=" << first.size() << '\n'
        << "title=" << at.title << '\n'
        << "content=" << at.content << '\n'
        << "parent=" << at.parent << '\n'
        << "linkname=" << qh::demo::SampleBook::nextLinkName() << '\n'
        << "ready" << Qt::endl;
    std::signal(SIGTERM, [](int) { QCoreApplication::quit(); });
    return app.exec();
}
