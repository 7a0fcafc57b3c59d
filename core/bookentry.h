#pragma once

#include "core/bookformat.h"

#include <QString>
#include <QUrl>

namespace qh::core {

// The placeholder name of a book whose first page is still being read; the scheduler does not start such a row.
inline const QString ProbingCaption = QStringLiteral("请等待,正在检测页面...");

// Where a book stands in the queue.
enum class BookStatus
{
    Queued,      // "排队中": the scheduler may start it when it heads the queue
    Downloading, // "下载中": being grabbed; neither deleted nor moved
    Downloaded,  // "已下载": set by nothing in this program; such a row (only from a list file) is dropped at close
    Unknown,     // any other word a list file held
};

// The word a status is shown and stored as; Unknown has none of its own.
QString statusWord(BookStatus status);
// The status a word stands for; Unknown for any other text.
BookStatus statusOfWord(const QString &word);

// One row of the download queue.
struct BookEntry
{
    QString BookName;                       // "书名"
    int PagesDone = 0;                      // "当前页": pages grabbed so far
    BookStatus Status = BookStatus::Queued; // "状态"
    QUrl CurrentUrl;                        // "当前下载地址": the page to grab next
    BookFormat Format = BookFormat::Text;   // what the book's file is written as

    bool operator==(const BookEntry &) const = default;
};

// The text with spaces and control characters off both ends, as an address field is read.
QString trimControls(const QString &text);

// An address as the user typed it or a list file holds it: trimControls(), parsed tolerantly as browsers take a
// typed address.
QUrl addressFromText(const QString &text);

// Names come from web pages and the list file cannot hold a "|" or a line break in a field: a "|" becomes the
// full-width "｜", a line break a space.
QString storableText(const QString &text);

} // namespace qh::core
