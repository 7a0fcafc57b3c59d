#pragma once

#include <QByteArray>
#include <QString>

namespace qh::demo {

// Where a chapter page's title, text and the text's parent stand in the document's list of all elements: what a
// template for the sample site records.
struct TemplatePositions
{
    int title = -1;
    int content = -1;
    int parent = -1;
};

// A generated serial novel as a reading site would serve it: one GBK chapter page per chapter, each with the
// chapter title in <h1 id="title">, the text in <div id="content"> (paragraphs indented with &nbsp; and separated
// by <br>), navigation and footer links around it, and a "下一页" link to the next chapter; the last chapter has
// none (its link back to the index is named otherwise). Deterministic: the same arguments give the same bytes.
class SampleBook
{
public:
    SampleBook(int chapterCount, int charactersPerChapter = 2000, QString pathPrefix = QStringLiteral("/book/"));

    int chapterCount() const { return m_chapterCount; }
    QString chapterPath(int chapter) const; // chapter counts from 1
    QString indexPath() const;
    QString chapterTitle(int chapter) const;
    QString chapterText(int chapter) const;    // the text as innerText gives it (paragraphs, U+00A0 indents)
    QByteArray chapterPage(int chapter) const; // the whole page in GBK

    // The bytes a grab of chapters first..last must write: each title and text followed by CR LF, line breaks as
    // CR LF, no-break spaces as plain spaces. Built independently of the program's own writer.
    QByteArray bookFileBytes(int first, int last, bool utf8 = false) const;

    // Read from a parsed chapter page, so a template made from them fits the pages whatever the parser does.
    TemplatePositions templatePositions() const;

    // The link text that the "next page" links carry.
    static QString nextLinkName() { return QStringLiteral("下一页"); }

private:
    QString paragraphText(int chapter, int paragraph, int length) const;

    int m_chapterCount;
    int m_charactersPerChapter;
    QString m_pathPrefix;
};

} // namespace qh::demo
