#include "output/epubwriter.h"

#include "common/error.h"
#include "output/epubdocuments.h"
#include "output/zipwriter.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QUuid>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace qh::output {

namespace {

[[noreturn]] void failSaving(const QString &path, const QString &cause)
{
    throw Error(u"无法保存文件“%1”：%2"_s.arg(QDir::toNativeSeparators(path), cause));
}

QString systemError(int code)
{
    return QString::fromLocal8Bit(std::strerror(code));
}

// A file beside the target that takes the target's place on commit(), so a reader of the target never sees half a
// book; it is removed unless committed.
class ReplacementFile
{
public:
    explicit ReplacementFile(const QString &target)
        : m_target(target),
          m_path(QFileInfo(target).dir().filePath(u"."_s + QFileInfo(target).fileName() + u"."_s +
                                                  QString::number(QRandomGenerator::global()->generate64(), 36) +
                                                  u".tmp"_s))
    {}
    ~ReplacementFile()
    {
        if (!m_committed)
            QFile::remove(m_path);
    }
    ReplacementFile(const ReplacementFile &) = delete;
    ReplacementFile &operator=(const ReplacementFile &) = delete;

    const QString &path() const { return m_path; }

    // On disk first, then renamed, so that a crash leaves the old book or the new one whole.
    void commit()
    {
        syncToDisk(m_path, O_RDONLY);
        const QFileInfo old(m_target);
        if (old.exists())
            QFile::setPermissions(m_path, QFile::permissions(m_target));
        // QFile::rename() refuses to replace a file; rename(2) replaces it atomically.
        if (std::rename(QFile::encodeName(m_path).constData(), QFile::encodeName(m_target).constData()) != 0)
            failSaving(m_target, systemError(errno));
        m_committed = true;
        // The rename lasts only once the folder is on disk too; if that fails the new book is in place anyway.
        (void)fsyncPath(QFileInfo(m_target).absolutePath(), O_RDONLY | O_DIRECTORY);
    }

private:
    void syncToDisk(const QString &path, int flags) const
    {
        if (const int error = fsyncPath(path, flags))
            failSaving(m_target, systemError(error));
    }

    // 0, or the errno of what failed.
    static int fsyncPath(const QString &path, int flags)
    {
        const int fd = ::open(QFile::encodeName(path).constData(), flags | O_CLOEXEC);
        if (fd < 0)
            return errno;
        const int error = ::fsync(fd) == 0 ? 0 : errno;
        ::close(fd);
        return error;
    }

    QString m_target;
    QString m_path;
    bool m_committed = false;
};

// The book as written: blanks filled in once, so every document says the same.
EpubBook completed(const QString &path, const EpubBook &book)
{
    EpubBook result = book;
    if (result.title.trimmed().isEmpty())
        result.title = QFileInfo(path).completeBaseName();
    if (result.language.trimmed().isEmpty())
        result.language = u"zh"_s;
    result.modified = (book.modified.isValid() ? book.modified : QDateTime::currentDateTimeUtc()).toUTC();
    result.modified.setTime(
        QTime(result.modified.time().hour(), result.modified.time().minute(), result.modified.time().second()));
    return result;
}

class PageListPages : public PageSource
{
public:
    explicit PageListPages(const QList<EpubPage> &pages) : m_pages(pages) {}
    qsizetype count() const override { return m_pages.size(); }
    QString title(qsizetype index) const override { return m_pages.at(index).title; }
    QString text(qsizetype index) const override { return m_pages.at(index).text; }

private:
    const QList<EpubPage> &m_pages;
};

} // namespace

QString epubIdentifier(const QString &key)
{
    // Any fixed namespace will do; this one keeps our identifiers apart from other programs' name-based UUIDs.
    static const QUuid bookNamespace(u"6f1c8a53-2d0e-4b7a-9c45-8e3f1a0b7d21"_s);
    return u"urn:uuid:"_s + QUuid::createUuidV5(bookNamespace, key).toString(QUuid::WithoutBraces);
}

void writeEpub(const QString &path, const EpubBook &bookIn, const PageSource &pages)
{
    if (pages.count() == 0)
        failSaving(path, u"书中没有章节。"_s);
    if (bookIn.identifier.trimmed().isEmpty())
        failSaving(path, u"书没有标识。"_s);
    const EpubBook book = completed(path, bookIn);

    QList<epub::TocEntry> entries;
    entries.reserve(pages.count());
    for (qsizetype i = 0; i < pages.count(); ++i)
        entries.append({epub::chapterPath(i), epub::tocLabel(pages.title(i), i)});

    ReplacementFile file(path);
    {
        ZipWriter zip(file.path(), path, book.modified.toSecsSinceEpoch());
        const QString folder = QString::fromLatin1(epub::PackageFolder) + u'/';
        // The standard wants mimetype first and stored, so that a reader can tell the format from the bytes.
        zip.addBytes(u"mimetype"_s, epub::mimetype(), ZipWriter::Method::Store);
        zip.addBytes(u"META-INF/container.xml"_s, epub::containerXml());
        zip.addGenerated(folder + u"content.opf"_s, [&] { return epub::packageDocument(book, entries); });
        zip.addGenerated(folder + u"nav.xhtml"_s, [&] { return epub::navDocument(book, entries); });
        zip.addGenerated(folder + u"toc.ncx"_s, [&] { return epub::ncxDocument(book, entries); });
        zip.addBytes(folder + u"style.css"_s, epub::styleSheet());
        for (qsizetype i = 0; i < entries.size(); ++i) {
            zip.addGenerated(folder + entries.at(i).path, [&book, &pages, &entries, i] {
                return epub::chapterDocument(book, entries.at(i), pages.title(i), pages.text(i));
            });
        }
        zip.close();
    }
    file.commit();
}

void writeEpub(const QString &path, const EpubBook &book, const QList<EpubPage> &pages)
{
    writeEpub(path, book, PageListPages(pages));
}

} // namespace qh::output
