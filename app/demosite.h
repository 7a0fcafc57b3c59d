#pragma once

#include "common/bookformat.h"
#include "common/datafolder.h"

#include <QTemporaryDir>

#include <memory>
#include <optional>

namespace qh::demo {
class HttpServer;
class SampleBook;
} // namespace qh::demo

namespace qh::app {

// "quillhaul --demo": a sample reading site on loopback serving one generated GBK novel, and a fresh data folder
// holding a template for that site and the book queued, with downloading at start switched on. A newcomer sees a
// book download within seconds, with no network. Everything lives in a temporary folder removed with the object.
class DemoSite
{
public:
    // Throws qh::Error when the folder or its files cannot be made.
    // The demo's book is written as format says.
    explicit DemoSite(BookFormat format = BookFormat::Text, int chapterCount = 30);
    ~DemoSite();

    DemoSite(const DemoSite &) = delete;
    DemoSite &operator=(const DemoSite &) = delete;

    const DataFolder &folder() const { return *m_folder; }
    // The temporary folder that holds everything.
    QString path() const { return m_dir.path(); }
    QString saveFolder() const;
    QString bookName() const;
    // The text the finished book must hold.
    QByteArray expectedBookBytes() const;

private:
    QTemporaryDir m_dir;
    std::unique_ptr<demo::SampleBook> m_book;
    std::unique_ptr<demo::HttpServer> m_server;
    std::optional<DataFolder> m_folder;
};

} // namespace qh::app
