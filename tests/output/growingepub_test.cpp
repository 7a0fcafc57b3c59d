#include "common/error.h"
#include "output/epubreader.h"
#include "output/epubwriter.h"
#include "output/growingepub.h"
#include "output/zipreader.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>

using namespace Qt::StringLiterals;
using namespace qh::output;

namespace {

QList<EpubPage> chapters(int first, int last)
{
    QList<EpubPage> pages;
    for (int n = first; n <= last; ++n)
        pages.append(
            {u"第%1章 <标题> & 其他"_s.arg(n), u"第%1章的正文，第一行。\n第二行 \"引号\"\n\n隔了一行"_s.arg(n)});
    return pages;
}

void add(GrowingEpub &book, const QList<EpubPage> &pages)
{
    for (const EpubPage &page : pages)
        book.addPage(page.title, page.text);
}

QString identifierOf(const QString &path)
{
    const QByteArray opf = ZipReader(path).read(u"OEBPS/content.opf"_s);
    const qsizetype start = opf.indexOf("<dc:identifier id=\"book-id\">") + 28;
    return QString::fromUtf8(opf.mid(start, opf.indexOf("</dc:identifier>") - start));
}

class GrowingEpubTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }

    QString path() const { return m_dir.filePath(u"书.epub"_s); }
    EpubBook book(const QString &key = u"http://x/1.html"_s) const
    {
        return {u"书"_s, u"zh"_s, epubIdentifier(key), {}};
    }

    QTemporaryDir m_dir;
};

} // namespace

// A book written in batches reads back as the pages in order, also after it is opened again by another writer,
// and keeps the identifier it began with whatever the new writer was given.
TEST_F(GrowingEpubTest, BatchesAddUpToTheWholeBook)
{
    {
        GrowingEpub epub(path(), book());
        epub.open();
        EXPECT_FALSE(epub.fileExists());
        add(epub, chapters(1, 3));
        EXPECT_EQ(epub.pendingPages(), 3);
        EXPECT_GT(epub.pendingBytes(), 0);
        epub.write(0);
        EXPECT_EQ(epub.pagesInFile(), 3);
        EXPECT_EQ(epub.pendingPages(), 0);
        add(epub, chapters(4, 4));
        epub.write(3);
        EXPECT_EQ(readEpubChapters(path()), chapters(1, 4));
    }
    GrowingEpub resumed(path(), book(u"another key"_s));
    resumed.open();
    EXPECT_EQ(resumed.pagesInFile(), 4);
    add(resumed, chapters(5, 7));
    resumed.write(4);
    EXPECT_EQ(readEpubChapters(path()), chapters(1, 7));
    EXPECT_EQ(identifierOf(path()), epubIdentifier(u"http://x/1.html"_s));
    EXPECT_EQ(QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{u"书.epub"_s});
}

// Chapters past the ones to keep (a batch whose checkpoint never landed) are dropped, and the pages that come next
// take their places.
TEST_F(GrowingEpubTest, KeepsOnlyTheChaptersAskedFor)
{
    GrowingEpub epub(path(), book());
    epub.open();
    add(epub, chapters(1, 5));
    epub.write(0);

    GrowingEpub resumed(path(), book());
    resumed.open();
    resumed.write(3);
    EXPECT_EQ(resumed.pagesInFile(), 3);
    add(resumed, chapters(4, 6));
    resumed.write(3);
    EXPECT_EQ(readEpubChapters(path()), chapters(1, 6));
}

// A write that cannot land leaves the old book whole and the pages pending, so a later write still has them.
TEST_F(GrowingEpubTest, FailedWriteKeepsTheBookAndThePages)
{
    GrowingEpub epub(path(), book());
    epub.open();
    add(epub, chapters(1, 2));
    epub.write(0);
    QFile before(path());
    ASSERT_TRUE(before.open(QIODevice::ReadOnly));
    const QByteArray bytes = before.readAll();

    // A full disk: the new book cannot grow past the old one's size.
    add(epub, chapters(3, 40));
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = rlim_t(bytes.size());
    setrlimit(RLIMIT_FSIZE, &small);
    EXPECT_THROW(epub.write(2), qh::Error);
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    QFile after(path());
    ASSERT_TRUE(after.open(QIODevice::ReadOnly));
    EXPECT_EQ(after.readAll(), bytes);
    EXPECT_EQ(QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{u"书.epub"_s});
    EXPECT_EQ(epub.pendingPages(), 38);
    epub.write(2);
    EXPECT_EQ(readEpubChapters(path()), chapters(1, 40));
}

// A file that is no book of this program's is refused with its name, not written over.
TEST_F(GrowingEpubTest, RefusesWhatIsNoBook)
{
    QFile junk(path());
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
    junk.write("not a zip at all");
    junk.close();
    GrowingEpub epub(path(), book());
    try {
        epub.open();
        FAIL() << "opened a file that is no EPUB";
    } catch (const qh::Error &error) {
        EXPECT_TRUE(error.message().contains(QDir::toNativeSeparators(path()))) << error.message().toStdString();
    }
}
