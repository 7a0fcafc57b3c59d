// Writes one generated book, as an EPUB or as the text book, for timing by hand with its peak memory:
//   /usr/bin/time -v build/bin/epub_writebook epub|growing|text CHAPTERS FILE [BATCH]
// The chapters are held as the download engine holds them (a content list) before the write starts; "growing"
// writes them as a grab does, in batches of BATCH pages (default 200) through output::GrowingEpub, and times making the
// pages' documents and each write apart.

#include "common/error.h"
#include "common/textfile.h"
#include "engine/bookfile.h"
#include "output/epubwriter.h"
#include "output/growingepub.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
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
    if (args.size() < 4 || (args[1] != u"epub" && args[1] != u"growing" && args[1] != u"text")) {
        std::fprintf(stderr, "usage: epub_writebook epub|growing|text CHAPTERS FILE\n");
        return 2;
    }
    const QStringList contentList = generatedContentList(args[2].toInt());
    QElapsedTimer timer;
    timer.start();
    try {
        if (args[1] == u"epub") {
            const qh::output::EpubBook book{u"山路"_s, u"zh"_s, qh::output::epubIdentifier(u"bench"_s), {}};
            qh::output::writeEpub(args[3], book, qh::output::ContentListPages(contentList));
        } else if (args[1] == u"growing") {
            const qh::output::EpubBook book{u"山路"_s, u"zh"_s, qh::output::epubIdentifier(u"bench"_s), {}};
            QFile::remove(args[3]);
            qh::output::GrowingEpub epub(args[3], book);
            epub.open();
            const qh::output::ContentListPages pages(contentList);
            const int batch = args.size() > 4 ? args[4].toInt() : 200;
            qint64 makingNs = 0;
            qint64 writingNs = 0;
            QElapsedTimer part;
            for (qsizetype i = 0; i < pages.count(); ++i) {
                part.start();
                epub.addPage(pages.title(i), pages.text(i));
                makingNs += part.nsecsElapsed();
                if ((i + 1) % batch == 0 || i + 1 == pages.count()) {
                    part.start();
                    epub.write(epub.pagesInFile());
                    writingNs += part.nsecsElapsed();
                }
            }
            std::printf("growing: documents %lld ms, writes %lld ms\n", qlonglong(makingNs / 1'000'000),
                        qlonglong(writingNs / 1'000'000));
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
