#include "engine/bookupdate.h"

#include "common/error.h"
#include "engine/bookwriter.h"
#include "templates/templatestore.h"

#include "core/bookqueue.h"
#include "core/safefilename.h"

#include <QDir>
#include <QFileInfo>

using namespace Qt::StringLiterals;

namespace qh::engine {

UpdateQueued queueBookUpdate(core::BookQueue &queue, const core::FinishedBook &book, const QString &workFolder)
{
    for (const core::BookEntry &entry : queue.entries()) {
        if (entry.BookName == book.name)
            return UpdateQueued::AlreadyQueued;
    }
    const QString file = QDir::toNativeSeparators(book.file);
    const QFileInfo info(book.file);
    if (!info.isFile())
        throw Error(u"找不到《%1》的文件“%2”，无法更新。"_s.arg(book.name, file));
    // Appending to a file edited by hand would put the new chapters after whatever is there now.
    if (info.size() != book.bytes || core::fileEndMark(book.file, book.bytes) != book.endMark)
        throw Error(
            u"《%1》的文件“%2”在下载完以后被改动过（现在 %3 字节，当时 %4 字节），不能接着往后写，这次不更新它。"_s
                .arg(book.name, file)
                .arg(info.size())
                .arg(book.bytes));

    BookCheckpoint checkpoint;
    checkpoint.pages = book.pages;
    checkpoint.nextUrl = book.lastPage;
    checkpoint.bytes = book.bytes;
    checkpoint.encoding = book.encoding;
    checkpoint.templateName = book.templateName.isEmpty() ? templates::AutomaticChoice.toString() : book.templateName;
    checkpoint.afterNextUrl = true;
    checkpoint.bookFile = book.file;
    checkpoint.endMark = book.endMark;
    checkpoint.format = book.format;
    writeCheckpoint(core::BookWorkFilePath(workFolder, book.name), checkpoint);
    queue.append({book.name, book.pages, core::BookStatus::Queued, book.lastPage, book.format});
    return UpdateQueued::Queued;
}

} // namespace qh::engine
