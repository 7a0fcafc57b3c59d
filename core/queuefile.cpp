#include "core/queuefile.h"

#include "common/textfile.h"
#include "core/bookqueue.h"

#include <QFileInfo>
#include <QSet>
#include <QStringList>

using namespace Qt::StringLiterals;

namespace qh::core {

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

QString storableAddress(const QUrl &url)
{
    QString text = url.toString();
    text.replace(u"|"_s, u"%7C"_s);
    text.remove(u'\r');
    text.remove(u'\n');
    return text;
}

int pagesOfField(const QString &field)
{
    bool ok = false;
    const int pages = field.trimmed().toInt(&ok);
    return ok ? pages : -1;
}

} // namespace

QString formatQueueLine(const BookEntry &entry)
{
    return storableText(entry.BookName) + u'|' + QString::number(entry.PagesDone) + u'|' + statusWord(entry.Status) +
           u'|' + storableAddress(entry.CurrentUrl) +
           (entry.Format == BookFormat::Text ? QString() : u'|' + formatKey(entry.Format));
}

BookEntry parseQueueLine(const QString &line)
{
    BookEntry entry;
    entry.BookName = NthField(line, 0);
    entry.PagesDone = pagesOfField(NthField(line, 1));
    entry.Status = statusOfWord(NthField(line, 2));
    if (entry.Status == BookStatus::Downloading)
        entry.Status = BookStatus::Queued;
    // An address that is no address (a host of "www&example.com", say) is none: an invalid QUrl would be saved as an
    // empty field and read back as another row than the one loaded.
    if (const QUrl address = addressFromText(NthField(line, 3)); address.isValid())
        entry.CurrentUrl = address;
    // Past the last field NthField repeats an earlier one: only a line of five fields or more names a format.
    if (const QStringList fields = line.split(u'|'); fields.size() >= 5)
        entry.Format = formatFromKey(fields.at(4)).value_or(BookFormat::Text);
    return entry;
}

void SaveBookList(BookQueue &queue, const QString &listFile)
{
    // Another process (the window and the command line may run at once) may have added books since this queue last
    // read or wrote the file: they are kept, not overwritten.
    if (QFileInfo::exists(listFile)) {
        QStringList lines = text::readLines(listFile);
        lines.removeIf(isBlankLine);
        QSet<QString> present;
        for (int row = 0; row < queue.size(); ++row)
            present.insert(queue.entry(row).BookName);
        for (const QString &line : std::as_const(lines)) {
            const QString name = NthField(line, 0);
            if (!present.contains(name) && !queue.namesOnDisk().contains(name)) {
                queue.append(parseQueueLine(line));
                present.insert(name);
            }
        }
    }
    writeBookList(queue, listFile);
    QSet<QString> names;
    for (int row = 0; row < queue.size(); ++row)
        names.insert(queue.entry(row).BookName);
    queue.setNamesOnDisk(names);
}

void writeBookList(const BookQueue &queue, const QString &listFile)
{
    QStringList lines;
    lines.reserve(queue.size());
    for (int row = 0; row < queue.size(); ++row) {
        lines.append(queue.storedLine(row).value_or(formatQueueLine(queue.entry(row))));
    }
    text::writeLines(listFile, lines);
}

void LoadBookList(BookQueue &queue, const QString &listFile)
{
    if (!QFileInfo::exists(listFile))
        return;
    // Blank lines hold no book: one at the top must not hide the rows below it, nor one at the end block the queue.
    QStringList lines = text::readLines(listFile);
    lines.removeIf(isBlankLine);
    if (lines.isEmpty())
        return;

    QList<BookEntry> rows;
    QList<std::optional<QString>> stored;
    rows.reserve(lines.size());
    for (const QString &line : lines) {
        rows.append(parseQueueLine(line));
        // A book read back as queued again is written with its new status.
        stored.append(statusOfWord(NthField(line, 2)) == BookStatus::Downloading ? std::nullopt
                                                                                 : std::optional<QString>(line));
    }
    queue.setEntries(rows, stored);
    QSet<QString> names;
    for (const BookEntry &row : std::as_const(rows))
        names.insert(row.BookName);
    queue.setNamesOnDisk(names);
}

QString NthField(const QString &line, int n)
{
    const QStringList pieces = line.split(u'|');
    const qsizetype separators = pieces.size() - 1;
    if (separators == 0 || n < 0)
        return QString();
    return pieces.at(n <= separators ? n : separators - 1);
}

} // namespace qh::core
