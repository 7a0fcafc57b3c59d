// downlist.dat may have been edited by hand or cut short: whatever its bytes, loading gives rows that save and load
// again unchanged, and the saved file is stable from then on.
#include "common/textfile.h"
#include "core/bookqueue.h"
#include "core/queuefile.h"

#include <QByteArray>
#include <QDir>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

using namespace Qt::StringLiterals;
using namespace qh::core;

namespace {

const QTemporaryDir &scratchDir()
{
    static QTemporaryDir dir(QDir::tempPath() + u"/booklist_fuzzer-XXXXXX"_s);
    return dir;
}

// Splitting a line of fields and reading them back with NthField gives each field, whatever the field count.
void checkFieldsOf(const QByteArray &bytes)
{
    const QStringList fields = QString::fromUtf8(bytes).remove(u'\r').remove(u'\n').split(u'|');
    if (fields.size() < 2)
        return;
    const QString line = fields.join(u'|');
    for (qsizetype i = 0; i < fields.size(); ++i) {
        if (NthField(line, int(i)) != fields.at(i))
            std::abort();
    }
    // Past the last field, the one before the last.
    if (NthField(line, int(fields.size())) != fields.at(fields.size() - 2) || !NthField(line, -1).isEmpty())
        std::abort();
}

} // namespace

// The input's bytes are the list file (and, read as UTF-8, one line of fields for NthField).
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    checkFieldsOf(bytes);

    const QString file = scratchDir().filePath(u"downlist.dat"_s);
    const QString copy = scratchDir().filePath(u"downlist-saved.dat"_s);
    qh::text::writeFileAtomically(file, bytes);

    BookQueue loaded;
    LoadBookList(loaded, file);
    for (const BookEntry &row : loaded.entries()) {
        if (row.Status == BookStatus::Downloading)
            std::abort(); // nothing is being grabbed while the list loads
        if (row.BookName.contains(u'\r') || row.BookName.contains(u'\n'))
            std::abort();
        const QString line = formatQueueLine(row);
        // A row written anew must stay one line of four fields, five for a book that is no text file.
        const qsizetype separators = row.Format == qh::BookFormat::Text ? 3 : 4;
        if (line.count(u'|') != separators || line.contains(u'\r') || line.contains(u'\n'))
            std::abort();
    }
    writeBookList(loaded, copy);
    BookQueue reloaded;
    LoadBookList(reloaded, copy);
    if (reloaded.entries() != loaded.entries())
        std::abort();
    const QByteArray saved = qh::text::readFile(copy);
    writeBookList(reloaded, copy);
    if (qh::text::readFile(copy) != saved)
        std::abort();
    return 0;
}
