#pragma once

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

// EPUB 3 books: one XHTML document per grabbed page, with a navigation document and an NCX table of contents for
// older readers. Strings are QString throughout; the files inside are UTF-8.
namespace qh::output {

// What the package document says about the book.
struct EpubBook
{
    QString title;                           // the file's base name when blank
    QString language = QStringLiteral("zh"); // a BCP 47 tag
    QString identifier; // "urn:uuid:…", the same for every rewrite of one book: see epubIdentifier()
    QDateTime modified; // written in UTC to the second; now when invalid
};

// One grabbed page as the grabber found it: the text's lines are separated by LF (CR LF and CR are read as LF).
struct EpubPage
{
    QString title;
    QString text;

    friend bool operator==(const EpubPage &, const EpubPage &) = default;
};

// The pages of a book, read by index while the file is written. A page may be asked for more than once and in any
// order, and only one page's document is held at a time, so a source over strings the caller keeps anyway (Qt
// shares them on copy) adds little memory.
class PageSource
{
public:
    virtual ~PageSource() = default;
    virtual qsizetype count() const = 0;
    virtual QString title(qsizetype index) const = 0;
    virtual QString text(qsizetype index) const = 0;
};

// The download engine's content list: title, text, title, text, … (a last title without its text has an empty
// text). The list must outlive the source.
class ContentListPages : public PageSource
{
public:
    explicit ContentListPages(const QStringList &contentList) : m_list(contentList) {}
    qsizetype count() const override { return (m_list.size() + 1) / 2; }
    QString title(qsizetype index) const override { return m_list.at(2 * index); }
    QString text(qsizetype index) const override { return m_list.value(2 * index + 1); }

private:
    const QStringList &m_list;
};

// A stable identifier for the book named by key (its first page's address, say): "urn:uuid:" and a name-based
// UUID, so every rewrite of the book keeps it without storing it anywhere.
QString epubIdentifier(const QString &key);

// Replaces path with the book: written to a temporary file in the same folder, flushed to disk, then renamed over
// the old file. On failure the old file is left as it was, no temporary stays behind, and qh::Error names the file
// and the cause. A book needs at least one page and an identifier.
void writeEpub(const QString &path, const EpubBook &book, const PageSource &pages);
void writeEpub(const QString &path, const EpubBook &book, const QList<EpubPage> &pages);

} // namespace qh::output
