// Writes one generated book, as an EPUB or as the text book, for timing by hand with its peak memory:
//   /usr/bin/time -v build/bin/epub_writebook epub|text CHAPTERS FILE
// The chapters are held as the download engine holds them (a content list) before the write starts.

#include "common/error.h"
#include "common/textfile.h"
#include "engine/bookfile.h"
#include "output/epubwriter.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cstdio>

using namespace Qt::StringLiterals;

namespace {

// About 6 KB of UTF-8 per chapter: 20 paragraphs of 100 CJK characters, indented with no-break spaces. The
// characters are drawn from 3000 common ones, so the text compresses about as badly as a novel's does.
QString paragraph(QRandomGenerator &random)
{
    QString text = u"\u00a0\u00a0\u00a0\u00a0"_s;
    for (int i = 0; i < 100; ++i)
        text += i % 12 == 11 ? QChar(u'，') : QChar(char16_t(0x4E00 + random.bounded(3000)));
    return text + u'。';
}

QStringList generatedContentList(int chapters)
{
    QRandomGenerator random(19);
    QStringList list;
    list.reserve(2 * chapters);
    for (int i = 0; i < chapters; ++i) {
        QStringList lines;
        for (int p = 0; p < 20; ++p)
            lines.append(paragraph(random));
        list.append(u"第%1章 山路"_s.arg(i + 1));
        list.append(lines.join(u'\n'));
    }
    return list;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 4 || (args[1] != u"epub" && args[1] != u"text")) {
        std::fprintf(stderr, "usage: epub_writebook epub|text CHAPTERS FILE\n");
        return 2;
    }
    const QStringList contentList = generatedContentList(args[2].toInt());
    QElapsedTimer timer;
    timer.start();
    try {
        if (args[1] == u"epub") {
            const qh::output::EpubBook book{u"山路"_s, u"zh"_s, qh::output::epubIdentifier(u"bench"_s), {}};
            qh::output::writeEpub(args[3], book, qh::output::ContentListPages(contentList));
        } else {
            qh::text::writeFileAtomically(args[3],
                                          qh::engine::formatBookText(contentList, qh::text::Encoding::Gb18030));
        }
    } catch (const qh::Error &error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    std::printf("%s: %lld chapters, %lld bytes, %lld ms\n", qPrintable(args[1]), qlonglong(contentList.size() / 2),
                qlonglong(QFileInfo(args[3]).size()), qlonglong(timer.elapsed()));
    return 0;
}
