#pragma once

#include "output/epubwriter.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringView>

// The text of each file inside an EPUB, UTF-8. Paths are relative to the package document's folder.
namespace qh::output::epub {

inline constexpr char PackageFolder[] = "OEBPS";

// The table of contents' view of one page.
struct TocEntry
{
    QString path;  // "text/c00001.xhtml"
    QString label; // XML-escaped, never blank
};

// The book as written to path: blanks filled in once (the title from the file's name, the language zh, the time
// now, to the second), so that every document says the same.
EpubBook completedBook(const QString &path, const EpubBook &book);

QString chapterPath(qsizetype index);

// The page's title on one line, or "第N页" when it has nothing to show, as readers list it.
QString tocLabel(QStringView title, qsizetype index);

QByteArray mimetype();
QByteArray containerXml();
QByteArray styleSheet();

// A page: its title as an <h2> (none when the title is empty; line breaks as <br/>), then one <p> per non-empty
// line of its text and a <br/> for each empty line.
QByteArray chapterDocument(const EpubBook &book, const TocEntry &entry, QStringView title, QStringView text);

QByteArray navDocument(const EpubBook &book, const QList<TocEntry> &entries);
QByteArray ncxDocument(const EpubBook &book, const QList<TocEntry> &entries);
QByteArray packageDocument(const EpubBook &book, const QList<TocEntry> &entries);

} // namespace qh::output::epub
