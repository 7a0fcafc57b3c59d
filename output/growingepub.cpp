#include "output/growingepub.h"

#include "common/error.h"
#include "output/replacementfile.h"
#include "output/xmltext.h"
#include "output/zipreader.h"
#include "output/zipwriter.h"

#include <QFileInfo>
#include <QThreadPool>
#include <QXmlStreamReader>

using namespace Qt::StringLiterals;

namespace qh::output {

namespace {

QString inPackage(const QString &path)
{
    return QString::fromLatin1(epub::PackageFolder) + u'/' + path;
}

// The table of contents of a book this program wrote, from its navigation document: the chapters in order.
QList<epub::TocEntry> readToc(const ZipReader &zip)
{
    const QString name = inPackage(u"nav.xhtml"_s);
    QXmlStreamReader xml(zip.read(name));
    QList<epub::TocEntry> entries;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement || xml.name() != u"a")
            continue;
        const QString path = xml.attributes().value(u"href"_s).toString();
        const QString label = xml.readElementText(QXmlStreamReader::IncludeChildElements);
        if (path != epub::chapterPath(entries.size()))
            zip.fail(u"目录中第 %1 章的位置“%2”不对，这不是本程序写的书。"_s.arg(entries.size() + 1).arg(path));
        entries.append({path, xml::escaped(label)});
    }
    if (xml.hasError())
        zip.fail(u"“%1”第 %2 行：%3"_s.arg(name).arg(xml.lineNumber()).arg(xml.errorString()));
    return entries;
}

// The identifier in the package document, so that every rewrite of a book keeps the one it began with.
QString readIdentifier(const ZipReader &zip)
{
    QXmlStreamReader xml(zip.read(inPackage(u"content.opf"_s)));
    while (!xml.atEnd()) {
        if (xml.readNext() == QXmlStreamReader::StartElement && xml.name() == u"identifier")
            return xml.readElementText().trimmed();
    }
    return QString();
}

} // namespace

GrowingEpub::GrowingEpub(QString path, EpubBook book)
    : m_path(std::move(path)), m_book(std::move(book)), m_deflater(std::make_unique<QThreadPool>())
{
    // One thread keeps the pages in order of arrival and leaves the other cores to the grab.
    m_deflater->setMaxThreadCount(1);
}

GrowingEpub::~GrowingEpub() = default;

bool GrowingEpub::fileExists() const
{
    return m_file != nullptr;
}

void GrowingEpub::open()
{
    m_file.reset();
    m_entries.clear();
    m_fileEntries = 0;
    discardPending();
    if (QFileInfo::exists(m_path))
        readFile();
}

void GrowingEpub::readFile()
{
    auto file = std::make_unique<ZipReader>(m_path);
    QList<epub::TocEntry> entries = readToc(*file);
    for (const epub::TocEntry &entry : std::as_const(entries)) {
        if (!file->contains(inPackage(entry.path)))
            file->fail(u"目录中的“%1”不在书中。"_s.arg(entry.path));
    }
    if (const QString identifier = readIdentifier(*file); !identifier.isEmpty())
        m_book.identifier = identifier;
    m_file = std::move(file);
    m_entries = std::move(entries);
    m_fileEntries = m_entries.size();
}

void GrowingEpub::addPage(QStringView title, QStringView text)
{
    const qsizetype index = m_fileEntries + pendingPages();
    epub::TocEntry entry{epub::chapterPath(index), epub::tocLabel(title, index)};
    QByteArray document = epub::chapterDocument(m_book, entry, title, text);
    m_pendingBytes += document.size();
    auto deflating = std::make_shared<std::packaged_task<DeflatedBytes()>>(
        [document = std::move(document)] { return deflateFast(document); });
    m_pending.push_back(deflating->get_future().share());
    m_deflater->start([deflating] { (*deflating)(); });
    m_entries.append(std::move(entry));
}

void GrowingEpub::discardPending()
{
    m_entries.resize(m_fileEntries);
    m_pending.clear();
    m_pendingBytes = 0;
}

void GrowingEpub::write(qsizetype keepPages)
{
    keepPages = std::clamp<qsizetype>(keepPages, 0, m_fileEntries);
    // Chapters past keepPages (from a write whose checkpoint never landed) give way to the pending ones, which are
    // numbered from the file's end: number them again from keepPages.
    if (keepPages < m_fileEntries && !m_pending.empty())
        throw Error(u"无法保存文件“%1”：要保留的章节与新章节不相接。"_s.arg(m_path));
    QList<epub::TocEntry> entries = m_entries.first(keepPages);
    entries.append(m_entries.mid(m_fileEntries));
    if (entries.isEmpty())
        failSaving(m_path, u"书中没有章节。"_s);
    const EpubBook book = epub::completedBook(m_path, m_book);

    ReplacementFile replacement(m_path);
    {
        ZipWriter zip(replacement.path(), m_path, book.modified.toSecsSinceEpoch());
        // The standard wants mimetype first and stored, so that a reader can tell the format from the bytes.
        zip.addBytes(u"mimetype"_s, epub::mimetype(), ZipWriter::Method::Store);
        zip.addBytes(u"META-INF/container.xml"_s, epub::containerXml());
        zip.addBytes(inPackage(u"content.opf"_s), epub::packageDocument(book, entries));
        zip.addBytes(inPackage(u"nav.xhtml"_s), epub::navDocument(book, entries));
        zip.addBytes(inPackage(u"toc.ncx"_s), epub::ncxDocument(book, entries));
        zip.addBytes(inPackage(u"style.css"_s), epub::styleSheet());
        for (qsizetype i = 0; i < keepPages; ++i)
            zip.addCopy(inPackage(entries.at(i).path), *m_file, inPackage(entries.at(i).path));
        // Waits for pages still being deflated; a failure to deflate one is rethrown here.
        for (std::size_t i = 0; i < m_pending.size(); ++i)
            zip.addDeflated(inPackage(entries.at(keepPages + qsizetype(i)).path), m_pending.at(i).get());
        zip.close();
    }
    replacement.commit();

    m_pending.clear();
    m_pendingBytes = 0;
    try {
        readFile();
    } catch (const Error &) {
        // The file is in place; what this writer holds of it is the same without reading it back.
        m_file.reset();
        m_entries = std::move(entries);
        m_fileEntries = m_entries.size();
        throw;
    }
}

} // namespace qh::output
