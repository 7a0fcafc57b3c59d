#include "output/epubwriter.h"

#include "common/error.h"
#include "output/epubdocuments.h"
#include "output/replacementfile.h"
#include "output/zipwriter.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUuid>

using namespace Qt::StringLiterals;

namespace qh::output {

namespace {

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
    const EpubBook book = epub::completedBook(path, bookIn);

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
