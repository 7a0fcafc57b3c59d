#include "output/epubreader.h"

#include "output/zipreader.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QUrl>
#include <QXmlStreamReader>

using namespace Qt::StringLiterals;

namespace qh::output {

namespace {

[[noreturn]] void failXml(const ZipReader &zip, const QString &name, const QXmlStreamReader &xml)
{
    zip.fail(u"“%1”第 %2 行：%3"_s.arg(name).arg(xml.lineNumber()).arg(xml.errorString()));
}

// The package document's path, from the container.
QString packagePath(const ZipReader &zip)
{
    const QString name = u"META-INF/container.xml"_s;
    QXmlStreamReader xml(zip.read(name));
    while (!xml.atEnd()) {
        if (xml.readNext() == QXmlStreamReader::StartElement && xml.name() == u"rootfile")
            return xml.attributes().value(u"full-path"_s).toString();
    }
    if (xml.hasError())
        failXml(zip, name, xml);
    zip.fail(u"“%1”里没有 rootfile。"_s.arg(name));
}

// The spine's documents, as paths inside the zip.
QStringList spinePaths(const ZipReader &zip, const QString &opfPath)
{
    QXmlStreamReader xml(zip.read(opfPath));
    QHash<QString, QString> hrefs;
    QStringList idrefs;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (xml.name() == u"item")
            hrefs.insert(xml.attributes().value(u"id"_s).toString(), xml.attributes().value(u"href"_s).toString());
        else if (xml.name() == u"itemref")
            idrefs.append(xml.attributes().value(u"idref"_s).toString());
    }
    if (xml.hasError())
        failXml(zip, opfPath, xml);

    const QString folder = QFileInfo(opfPath).path();
    QStringList paths;
    for (const QString &idref : std::as_const(idrefs)) {
        const auto href = hrefs.constFind(idref);
        if (href == hrefs.cend())
            zip.fail(u"“%1”的 spine 提到没有的“%2”。"_s.arg(opfPath, idref));
        const QString relative = QUrl::fromPercentEncoding(href->toUtf8());
        paths.append(QDir::cleanPath(folder == u"."_s ? relative : folder + u'/' + relative));
    }
    return paths;
}

// The text of the element just started, with <br/> read as LF; ends after its end tag.
QString elementText(QXmlStreamReader &xml)
{
    QString text;
    int depth = 1;
    while (depth > 0 && !xml.atEnd()) {
        switch (xml.readNext()) {
        case QXmlStreamReader::StartElement:
            ++depth;
            if (xml.name() == u"br")
                text += u'\n';
            break;
        case QXmlStreamReader::EndElement:
            --depth;
            break;
        case QXmlStreamReader::Characters:
            text += xml.text();
            break;
        default:
            break;
        }
    }
    return text;
}

EpubPage readChapter(const ZipReader &zip, const QString &name)
{
    QXmlStreamReader xml(zip.read(name));
    EpubPage page;
    QStringList lines;
    bool inBody = false;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        const QStringView element = xml.name();
        if (element == u"body")
            inBody = true;
        else if (!inBody)
            continue;
        else if (element == u"h1" || element == u"h2")
            page.title = elementText(xml);
        else if (element == u"p")
            lines.append(elementText(xml));
        else if (element == u"br")
            lines.append(QString());
    }
    if (xml.hasError())
        failXml(zip, name, xml);
    page.text = lines.join(u'\n');
    return page;
}

} // namespace

QList<EpubPage> readEpubChapters(const QString &path)
{
    const ZipReader zip(path);
    QList<EpubPage> pages;
    for (const QString &name : spinePaths(zip, packagePath(zip)))
        pages.append(readChapter(zip, name));
    return pages;
}

} // namespace qh::output
