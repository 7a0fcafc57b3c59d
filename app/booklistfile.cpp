#include "app/booklistfile.h"

#include "app/booklistmodel.h"
#include "common/textfile.h"

#include <QFileInfo>
#include <QStringList>

namespace qh::app {

namespace {

// Nothing but spaces and control characters.
bool isBlankLine(const QString &line)
{
    for (const QChar c : line) {
        if (c.unicode() > u' ')
            return false;
    }
    return true;
}

} // namespace

void SaveBookList(const BookListModel &model, const QString &listFile)
{
    QStringList lines;
    lines.reserve(model.size());
    for (const BookEntry &row : model.entries())
        lines.append(row.BookName + u'|' + row.PagesDone + u'|' + row.Status + u'|' + row.CurrentUrl);
    text::writeLines(listFile, lines);
}

void LoadBookList(BookListModel &model, const QString &listFile)
{
    if (!QFileInfo::exists(listFile))
        return;
    const QStringList lines = text::readLines(listFile);
    if (lines.isEmpty() || isBlankLine(lines.constFirst()))
        return;

    QList<BookEntry> rows;
    rows.reserve(lines.size());
    for (const QString &line : lines) {
        BookEntry row{NthField(line, 0), NthField(line, 1), NthField(line, 2), NthField(line, 3)};
        if (row.Status == StatusDownloading)
            row.Status = StatusQueued;
        rows.append(row);
    }
    model.setEntries(rows);
}

QString NthField(const QString &line, int n)
{
    const QStringList pieces = line.split(u'|');
    const qsizetype separators = pieces.size() - 1;
    if (separators == 0 || n < 0)
        return QString();
    return pieces.at(n <= separators ? n : separators - 1);
}

} // namespace qh::app
