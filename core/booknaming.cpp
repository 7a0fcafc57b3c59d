#include "core/booknaming.h"

#include "core/bookqueue.h"
#include "core/safefilename.h"

#include <QFileInfo>

namespace qh::core {

bool isBookNameFree(const BookQueue &books, const QString &saveFolder, const QString &candidate)
{
    if (candidate.isEmpty())
        return false;
    // Files are named after the first characters of a name only: two names that share them would share a file.
    const QString file = BookFilePath(saveFolder, candidate);
    for (const BookEntry &entry : books.entries()) {
        if (entry.BookName.startsWith(candidate, Qt::CaseInsensitive))
            return false;
        if (BookFilePath(saveFolder, entry.BookName).compare(file, Qt::CaseInsensitive) == 0)
            return false;
    }
    // Neither of the files a book of that name could be written to: the book's format may be chosen later.
    return !QFileInfo::exists(BookFilePath(saveFolder, candidate, BookFormat::Text)) &&
           !QFileInfo::exists(BookFilePath(saveFolder, candidate, BookFormat::Epub));
}

QString bookNameFromTitle(const QString &title)
{
    return title.left(15);
}

QString numberedFreeBookName(const BookQueue &books, const QString &saveFolder, const QString &candidate)
{
    const QString base = candidate.isEmpty() ? QStringLiteral("未命名") : candidate;
    if (isBookNameFree(books, saveFolder, base))
        return base;
    for (int n = 2;; ++n) {
        // Only the first 15 characters name the file, so the number must stand within them.
        const QString number = QString::number(n);
        const QString numbered = base.left(std::max<qsizetype>(0, 15 - number.size())) + number;
        if (isBookNameFree(books, saveFolder, numbered))
            return numbered;
    }
}

} // namespace qh::core
