#pragma once

#include <QString>

namespace qh::app {

// The placeholder name of a book whose first page is still being read; the scheduler does not start such a row.
inline const QString ProbingCaption = QStringLiteral("请等待,正在检测页面...");

// Status words of a row.
inline const QString StatusQueued = QStringLiteral("排队中");
inline const QString StatusDownloading = QStringLiteral("下载中");
// Set by nothing in this program; a row that carries it (only possible from a list file) is dropped at close.
inline const QString StatusDownloaded = QStringLiteral("已下载");

// One row of the download list, all four fields text.
struct BookEntry
{
    QString BookName;   // "书名"
    QString PagesDone;  // "当前页": decimal digits, "0" for a new book
    QString Status;     // "状态": StatusQueued or StatusDownloading
    QString CurrentUrl; // "当前下载地址": the page to grab next

    bool operator==(const BookEntry &) const = default;
};

// Names and addresses come from web pages and the list file cannot hold a "|" or a line break in a field: a "|"
// becomes the full-width "｜" in the text fields and "%7C" in the address, a line break becomes a space in the text
// fields and is dropped from the address, as browsers drop it.
QString storableText(const QString &text);
QString storableUrl(const QString &url);
BookEntry storableEntry(const BookEntry &entry);

} // namespace qh::app
