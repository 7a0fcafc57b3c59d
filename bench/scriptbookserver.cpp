// Serves a script-driven book on loopback for web_grab_benchmark.sh: each chapter page holds its title and text
// element empty and fills them from a script as the page loads, and its next link is a script link that sends the
// browser to the next chapter (the last chapter's does nothing). Prints the first chapter's address, the port and the
// template positions, then, when the second and the last chapter are asked for, the times of those requests
// (milliseconds since the epoch); serves until it is killed.
#include "demo/httpserver.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QTextStream>

#include <csignal>

using namespace Qt::StringLiterals;

namespace {

QString chapterPath(int chapter)
{
    return u"/book/%1.html"_s.arg(chapter);
}

QByteArray chapterPage(int chapter, int chapters, int characters)
{
    QString text;
    const QString line = u"第%1章的正文，写在脚本里，由脚本在网页加载时填进空的元素。"_s.arg(chapter);
    while (text.size() < characters)
        text += line + u"<br>"_s;
    const QString next = chapter < chapters ? u"location.href = '%1';"_s.arg(chapterPath(chapter + 1)) : QString();
    return uR"HTML(<!DOCTYPE html><html><head><meta charset="utf-8"><title>第%1章 - 脚本书网</title></head><body><h1></h1><div></div><a href="javascript:next()">下一页</a><script>
var chapter = { title: '第%1章 脚本里的标题', text: '%2' };
function next() { %3 }
setTimeout(function () {
    document.querySelector('h1').textContent = chapter.title;
    document.querySelector('div').innerHTML = '<p>' + chapter.text + '</p>';
}, 0);
</script></body></html>)HTML"_s.arg(chapter)
        .arg(text, next)
        .toUtf8();
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int chapters = args.size() > 1 ? args.at(1).toInt() : 200;
    const int characters = args.size() > 2 ? args.at(2).toInt() : 2000;

    qh::demo::HttpServer server;
    QTextStream out(stdout);
    for (int chapter = 1; chapter <= chapters; ++chapter)
        server.setPage(chapterPath(chapter), chapterPage(chapter, chapters, characters));
    // The second chapter's request starts the steady part of the grab (the first comes after Chromium's start-up);
    // the last chapter's says when the search for a next page begins that finds none.
    const auto stamped = [&out](const char *name, QByteArray page) {
        return [&out, name, page](const qh::demo::HttpRequest &) {
            out << name << '=' << QDateTime::currentMSecsSinceEpoch() << Qt::endl;
            return qh::demo::HttpResponse::page(page);
        };
    };
    if (chapters > 2)
        server.setHandler(chapterPath(2), stamped("secondrequest", chapterPage(2, chapters, characters)));
    server.setHandler(chapterPath(chapters), stamped("lastrequest", chapterPage(chapters, chapters, characters)));

    // HTML, HEAD, META, TITLE, BODY (4), H1 (5), DIV (6).
    out << "url=" << server.url(chapterPath(1)).toString() << '\n'
        << "port=" << server.port() << '\n'
        << "title=5\ncontent=6\nparent=4\n"
        << "linkname=下一页\n"
        << "ready" << Qt::endl;
    std::signal(SIGTERM, [](int) { QCoreApplication::quit(); });
    return app.exec();
}
