#include "app/demosite.h"

#include "common/error.h"
#include "core/bookqueue.h"
#include "core/queuefile.h"
#include "demo/httpserver.h"
#include "demo/samplebook.h"
#include "settings/appsettings.h"
#include "templates/sitehead.h"
#include "templates/templatefile.h"
#include "templates/templatestore.h"

#include <QDir>

using namespace Qt::StringLiterals;

namespace qh::app {

namespace {

const QString TemplateName = u"示例书网"_s;

} // namespace

DemoSite::DemoSite(BookFormat format, int chapterCount)
    : m_book(std::make_unique<demo::SampleBook>(chapterCount)), m_server(std::make_unique<demo::HttpServer>())
{
    if (!m_dir.isValid())
        throw Error(u"无法创建演示用的临时目录：%1"_s.arg(m_dir.errorString()));
    for (int chapter = 1; chapter <= chapterCount; ++chapter)
        m_server->setPage(m_book->chapterPath(chapter), m_book->chapterPage(chapter), "text/html; charset=gbk");
    m_server->setPage(m_book->indexPath(), "<html><head><title>示例小说</title></head><body></body></html>",
                      "text/html; charset=utf-8");

    m_folder = DataFolder::locate(m_dir.filePath(u"data"_s));
    QDir().mkpath(saveFolder());

    settings::AppSettings settings;
    settings.SavePath = QDir::toNativeSeparators(saveFolder());
    settings.AutoDownload = true;
    settings.OutputFormat = format;
    settings::SaveSettings(m_folder->settingsFile(), settings);

    const QString firstPage = m_server->url(m_book->chapterPath(1)).toString();
    const QString head = templates::SiteHeadOf(firstPage);
    const demo::TemplatePositions at = m_book->templatePositions();
    templates::TemplateStore store;
    store.AddTemplateRecord(TemplateName, head);
    const auto write = [&](const QString &key, const QString &value) {
        store.WriteTemplateParam(TemplateName, head, key, value);
    };
    write(u"linkname"_s, demo::SampleBook::nextLinkName());
    write(u"ititleindex"_s, QString::number(at.title));
    write(u"sTitleTagname"_s, u"H1"_s);
    write(u"icontentindex"_s, QString::number(at.content));
    write(u"sContentTagname"_s, u"DIV"_s);
    write(u"iparentindex"_s, QString::number(at.parent));
    templates::SaveTemplateFile(m_folder->templateFile(), store);

    core::BookQueue books;
    books.append({bookName(), 0, core::BookStatus::Queued, core::addressFromText(firstPage), format});
    core::SaveBookList(books, m_folder->bookListFile());
}

DemoSite::~DemoSite() = default;

QString DemoSite::saveFolder() const
{
    return m_dir.filePath(u"books"_s);
}

QString DemoSite::bookName() const
{
    return u"示例小说"_s;
}

QByteArray DemoSite::expectedBookBytes() const
{
    return m_book->bookFileBytes(1, m_book->chapterCount());
}

} // namespace qh::app
