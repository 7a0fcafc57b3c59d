#include "output/epubdocuments.h"

#include "output/xmltext.h"

#include <QFileInfo>

using namespace Qt::StringLiterals;

namespace qh::output::epub {

namespace {

using xml::escaped;

// The opening shared by the chapters and the navigation document.
QString xhtmlHead(const EpubBook &book, const QString &escapedTitle, QStringView styleHref)
{
    const QString language = escaped(book.language);
    return u"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE html>\n"
           u"<html xmlns=\"http://www.w3.org/1999/xhtml\" xmlns:epub=\"http://www.idpf.org/2007/ops\" xml:lang=\""_s %
           language % u"\" lang=\""_s % language % u"\">\n<head>\n<title>"_s % escapedTitle %
           u"</title>\n<link rel=\"stylesheet\" type=\"text/css\" href=\""_s % styleHref % u"\"/>\n</head>\n<body>\n"_s;
}

QString modifiedUtc(const QDateTime &modified)
{
    const QDateTime when = modified.isValid() ? modified : QDateTime::currentDateTimeUtc();
    return when.toUTC().toString(u"yyyy-MM-dd'T'HH:mm:ss'Z'"_s);
}

} // namespace

EpubBook completedBook(const QString &path, const EpubBook &book)
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

QString chapterPath(qsizetype index)
{
    return u"text/c%1.xhtml"_s.arg(index + 1, 5, 10, QLatin1Char('0'));
}

QString tocLabel(QStringView title, qsizetype index)
{
    const QString label = escaped(xml::textLines(title).join(u' ')).trimmed();
    return label.isEmpty() ? u"第%1页"_s.arg(index + 1) : label;
}

QByteArray mimetype()
{
    return QByteArrayLiteral("application/epub+zip");
}

QByteArray containerXml()
{
    return QByteArrayLiteral(
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<container version=\"1.0\" xmlns=\"urn:oasis:names:tc:opendocument:xmlns:container\">\n"
        "<rootfiles>\n"
        "<rootfile full-path=\"OEBPS/content.opf\" media-type=\"application/oebps-package+xml\"/>\n"
        "</rootfiles>\n"
        "</container>\n");
}

QByteArray styleSheet()
{
    // Generic families only: each reader maps them to the CJK fonts it has, and a named font would be missing on
    // most devices. Paragraphs are indented rather than spaced, as Chinese books are set.
    return QByteArrayLiteral("body {\n  margin: 0 1em;\n  line-height: 1.8;\n  font-family: serif;\n}\n"
                             "h2 {\n  margin: 1em 0;\n  font-size: 1.3em;\n  line-height: 1.4;\n"
                             "  text-align: center;\n  font-family: sans-serif;\n}\n"
                             "p {\n  margin: 0;\n  text-indent: 2em;\n  text-align: justify;\n}\n"
                             "nav ol {\n  list-style-type: none;\n  padding-left: 0;\n}\n");
}

QByteArray chapterDocument(const EpubBook &book, const TocEntry &entry, QStringView title, QStringView text)
{
    QString out = xhtmlHead(book, entry.label, u"../style.css");
    out.reserve(out.size() + title.size() + text.size() + text.size() / 8 + 64);
    const QStringList titleLines = xml::textLines(title);
    if (!titleLines.isEmpty()) {
        out += u"<h2>";
        for (qsizetype i = 0; i < titleLines.size(); ++i) {
            if (i > 0)
                out += u"<br/>";
            xml::appendEscaped(out, titleLines.at(i));
        }
        out += u"</h2>\n";
    }
    for (const QString &line : xml::textLines(text)) {
        if (line.isEmpty()) {
            out += u"<br/>\n";
        } else {
            out += u"<p>";
            xml::appendEscaped(out, line);
            out += u"</p>\n";
        }
    }
    out += u"</body>\n</html>\n";
    return out.toUtf8();
}

QByteArray navDocument(const EpubBook &book, const QList<TocEntry> &entries)
{
    const QString heading = u"目录"_s;
    QString out = xhtmlHead(book, heading, u"style.css");
    out += u"<nav epub:type=\"toc\" id=\"toc\">\n<h2>"_s % heading % u"</h2>\n<ol>\n"_s;
    for (const TocEntry &entry : entries)
        out += u"<li><a href=\""_s % entry.path % u"\">"_s % entry.label % u"</a></li>\n"_s;
    out += u"</ol>\n</nav>\n</body>\n</html>\n";
    return out.toUtf8();
}

QByteArray ncxDocument(const EpubBook &book, const QList<TocEntry> &entries)
{
    QString out = u"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                  u"<ncx xmlns=\"http://www.daisy.org/z3986/2005/ncx/\" version=\"2005-1\" xml:lang=\""_s %
                  escaped(book.language) %
                  u"\">\n<head>\n"
                  u"<meta name=\"dtb:uid\" content=\""_s %
                  escaped(book.identifier) %
                  u"\"/>\n<meta name=\"dtb:depth\" content=\"1\"/>\n"
                  u"<meta name=\"dtb:totalPageCount\" content=\"0\"/>\n"
                  u"<meta name=\"dtb:maxPageNumber\" content=\"0\"/>\n</head>\n"
                  u"<docTitle><text>"_s %
                  escaped(book.title) % u"</text></docTitle>\n<navMap>\n"_s;
    for (qsizetype i = 0; i < entries.size(); ++i) {
        const QString number = QString::number(i + 1);
        out += u"<navPoint id=\"p"_s % number % u"\" playOrder=\""_s % number % u"\"><navLabel><text>"_s %
               entries.at(i).label % u"</text></navLabel><content src=\""_s % entries.at(i).path %
               u"\"/></navPoint>\n"_s;
    }
    out += u"</navMap>\n</ncx>\n";
    return out.toUtf8();
}

QByteArray packageDocument(const EpubBook &book, const QList<TocEntry> &entries)
{
    QString out = u"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                  u"<package xmlns=\"http://www.idpf.org/2007/opf\" version=\"3.0\" unique-identifier=\"book-id\" "
                  u"xml:lang=\""_s %
                  escaped(book.language) %
                  u"\">\n<metadata xmlns:dc=\"http://purl.org/dc/elements/1.1/\">\n"
                  u"<dc:identifier id=\"book-id\">"_s %
                  escaped(book.identifier) % u"</dc:identifier>\n<dc:title>"_s % escaped(book.title) %
                  u"</dc:title>\n<dc:language>"_s % escaped(book.language) %
                  u"</dc:language>\n<meta property=\"dcterms:modified\">"_s % modifiedUtc(book.modified) %
                  u"</meta>\n</metadata>\n<manifest>\n"
                  u"<item id=\"nav\" href=\"nav.xhtml\" media-type=\"application/xhtml+xml\" properties=\"nav\"/>\n"
                  u"<item id=\"ncx\" href=\"toc.ncx\" media-type=\"application/x-dtbncx+xml\"/>\n"
                  u"<item id=\"css\" href=\"style.css\" media-type=\"text/css\"/>\n"_s;
    for (qsizetype i = 0; i < entries.size(); ++i) {
        out += u"<item id=\"c"_s % QString::number(i + 1) % u"\" href=\""_s % entries.at(i).path %
               u"\" media-type=\"application/xhtml+xml\"/>\n"_s;
    }
    out += u"</manifest>\n<spine toc=\"ncx\">\n";
    for (qsizetype i = 0; i < entries.size(); ++i)
        out += u"<itemref idref=\"c"_s % QString::number(i + 1) % u"\"/>\n"_s;
    out += u"</spine>\n</package>\n";
    return out.toUtf8();
}

} // namespace qh::output::epub
