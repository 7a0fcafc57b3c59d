#include "demo/samplebook.h"

#include "browser/html/htmlparser.h"

#include <QStringEncoder>

namespace qh::demo {

namespace {

// Common characters of Chinese prose, so the text looks and encodes like a real chapter.
const char16_t kCharacters[] =
    u"的一是在不了有和人这中大为上个国我以要他时来用们生到作地于出就分对成会可主发年动同工也能下过子说产种面而方后多定"
    u"行学法所民得经十三之进着等部度家电力里如水化高自二理起小物现实加量都两体制机当使点从业本去把性好应开它合还因由其"
    u"些然前外天政四日那社义事平形相全表间样与关各重新线内数正心反你明看原又么利比或但质气第向道命此变条只没结解问意建"
    u"月公无系军很情者最立代想已通并提直题党程展五果料象员革位入常文总次品式活设及管特件长求老头基资边流路级少图山统接"
    u"知较将组见计别她手角期根论运农指几九区强放决西被干做必战先回则任取据处理府研质";
const int kParagraphLength = 120;

int pick(int chapter, int paragraph, int i)
{
    // A cheap deterministic mix; the text only has to look varied.
    quint32 x = quint32(chapter) * 2654435761u ^ quint32(paragraph) * 40503u ^ quint32(i) * 2246822519u;
    x ^= x >> 13;
    x *= 3266489917u;
    x ^= x >> 16;
    return int(x % (sizeof(kCharacters) / sizeof(kCharacters[0]) - 1));
}

} // namespace

SampleBook::SampleBook(int chapterCount, int charactersPerChapter, QString pathPrefix)
    : m_chapterCount(chapterCount), m_charactersPerChapter(charactersPerChapter), m_pathPrefix(std::move(pathPrefix))
{}

QString SampleBook::chapterPath(int chapter) const
{
    return m_pathPrefix + QString::number(chapter) + QStringLiteral(".html");
}

QString SampleBook::indexPath() const
{
    return m_pathPrefix + QStringLiteral("index.html");
}

QString SampleBook::chapterTitle(int chapter) const
{
    return QStringLiteral("第%1章 风起云涌之%2").arg(chapter).arg(chapter % 7 + 1);
}

QString SampleBook::paragraphText(int chapter, int paragraph, int length) const
{
    QString text;
    text.reserve(length + 1);
    for (int i = 0; i < length; ++i)
        text += QChar(kCharacters[pick(chapter, paragraph, i)]);
    text += QChar(u'。');
    return text;
}

QString SampleBook::chapterText(int chapter) const
{
    QString text;
    const QString indent(4, QChar(0x00A0));
    int remaining = m_charactersPerChapter;
    for (int paragraph = 0; remaining > 0; ++paragraph) {
        const int length = std::min(remaining, kParagraphLength);
        if (paragraph > 0)
            text += QStringLiteral("\n\n");
        text += indent + paragraphText(chapter, paragraph, length);
        remaining -= length;
    }
    return text;
}

QByteArray SampleBook::chapterPage(int chapter) const
{
    QString content;
    const QString indent = QStringLiteral("&nbsp;&nbsp;&nbsp;&nbsp;");
    int remaining = m_charactersPerChapter;
    for (int paragraph = 0; remaining > 0; ++paragraph) {
        const int length = std::min(remaining, kParagraphLength);
        if (paragraph > 0)
            content += QStringLiteral("<br />\n<br />\n");
        content += indent + paragraphText(chapter, paragraph, length);
        remaining -= length;
    }
    const QString previous = chapter > 1 ? chapterPath(chapter - 1) : indexPath();
    const QString next = chapter < m_chapterCount ? chapterPath(chapter + 1) : indexPath();
    const QString title = chapterTitle(chapter);
    // The last chapter links back to the index under another name, so the book ends where the links end.
    const QString nextName = chapter < m_chapterCount ? nextLinkName() : QStringLiteral("返回目录");

    const QString page =
        QStringLiteral("<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.0 Transitional//EN\" "
                       "\"http://www.w3.org/TR/xhtml1/DTD/xhtml1-transitional.dtd\">\n"
                       "<html xmlns=\"http://www.w3.org/1999/xhtml\">\n<head>\n"
                       "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=gbk\" />\n"
                       "<title>%1_示例小说_书海阁</title>\n"
                       "<meta name=\"keywords\" content=\"示例小说,%1\" />\n"
                       "<link rel=\"stylesheet\" href=\"/css/style.css\" type=\"text/css\" />\n"
                       "<script type=\"text/javascript\">var bookid = 1024; var chapterid = %2;</script>\n"
                       "<style>#content{font-size:18px;line-height:1.8}</style>\n"
                       "</head>\n<body>\n"
                       "<div class=\"header\"><a href=\"/\">书海阁</a> &gt; <a href=\"%4\">示例小说</a></div>\n"
                       "<div class=\"nav\"><ul><li><a href=\"/\">首页</a></li><li><a href=\"/top.html\">排行榜</a></li>"
                       "<li><a href=\"/full.html\">完本小说</a></li></ul></div>\n"
                       "<div class=\"box_con\">\n<div class=\"bookname\">\n<h1 id=\"title\">%1</h1>\n"
                       "<div class=\"bottem1\"><a href=\"%3\">上一章</a> &larr; <a href=\"%4\">章节目录</a> &rarr; "
                       "<a href=\"%5\">%7</a></div>\n</div>\n"
                       "<div id=\"content\">%6</div>\n"
                       "<div class=\"bottem2\"><a href=\"%3\">上一章</a> &larr; <a href=\"%4\">章节目录</a> &rarr; "
                       "<a href=\"%5\">%7</a></div>\n"
                       "</div>\n<div class=\"footer\"><p>本站所有小说均为示例文字，仅供测试。</p></div>\n"
                       "<script type=\"text/javascript\">document.title = document.title;</script>\n"
                       "</body>\n</html>\n")
            .arg(title)
            .arg(chapter)
            .arg(previous, indexPath(), next, content, nextName);
    QStringEncoder encoder("GB18030");
    return encoder.encode(page);
}

TemplatePositions SampleBook::templatePositions() const
{
    const auto document = browser::parseHtmlDocument(chapterPage(1), "text/html", QUrl(QStringLiteral("http://x/")));
    TemplatePositions found;
    const auto all = document->all();
    for (int i = 0; i < all.length(); ++i) {
        const QString id = all.item(i)->attribute(QStringLiteral("id")).value_or(QString());
        if (id == u"title") {
            found.title = i;
        } else if (id == u"content") {
            found.content = i;
            found.parent = all.item(i)->parentElement()->sourceIndex();
        }
    }
    return found;
}

QByteArray SampleBook::bookFileBytes(int first, int last, bool utf8) const
{
    QString text;
    for (int chapter = first; chapter <= last; ++chapter) {
        QString chapterBody = chapterText(chapter);
        chapterBody.replace(QChar(0x00A0), u' ').replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
        text += chapterTitle(chapter) + QStringLiteral("\r\n") + chapterBody + QStringLiteral("\r\n");
    }
    if (utf8)
        return text.toUtf8();
    QStringEncoder encoder("GB18030");
    return encoder.encode(text);
}

} // namespace qh::demo
