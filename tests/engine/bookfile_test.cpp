#include "engine/bookfile.h"

#include "support/testutils.h"

#include <QFile>
#include <QTemporaryDir>

using namespace Qt::StringLiterals;
using namespace qh::engine;
using qh::text::Encoding;

// Line breaks inside entries become CR LF, no-break spaces plain spaces, and every entry ends with CR LF.
TEST(BookFile, FormatsEntriesAsCrLfText)
{
    const QStringList contentList{u"第一章"_s, u"\u00a0\u00a0正文一\n正文二\r\n正文三\r"_s, u""_s};
    EXPECT_EQ(formatBookText(contentList, Encoding::Utf8),
              QByteArray("\xe7\xac\xac\xe4\xb8\x80\xe7\xab\xa0\r\n"
                         "  \xe6\xad\xa3\xe6\x96\x87\xe4\xb8\x80\r\n\xe6\xad\xa3\xe6\x96\x87\xe4\xba\x8c\r\n"
                         "\xe6\xad\xa3\xe6\x96\x87\xe4\xb8\x89\r\n\r\n\r\n"));
    EXPECT_EQ(formatBookText({u"书"_s}, Encoding::Gb18030), QByteArray("\xca\xe9\r\n"));
    EXPECT_EQ(formatBookText({}, Encoding::Gb18030), QByteArray());
}

// A written book reads back line by line, in either encoding, for resuming.
TEST(BookFile, ReadsBackWhatWasWritten)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(u"book.txt"_s);
    for (const Encoding encoding : {Encoding::Gb18030, Encoding::Utf8}) {
        writeBookFile(path, {u"标题"_s, u"一\n二"_s, u"😀"_s}, encoding);
        EXPECT_EQ(readBookFile(path, encoding), (QStringList{u"标题"_s, u"一"_s, u"二"_s, u"😀"_s}));
    }
}
