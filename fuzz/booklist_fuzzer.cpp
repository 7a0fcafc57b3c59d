// downlist.dat may have been edited by hand or cut short: whatever its bytes, loading gives rows that save and load
// again unchanged, and the saved file is stable from then on.
#include "app/booklistfile.h"
#include "app/booklistmodel.h"
#include "common/textfile.h"

#include <QByteArray>
#include <QDir>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

using namespace Qt::StringLiterals;
using namespace qh::app;

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

    BookListModel loaded;
    LoadBookList(loaded, file);
    for (const BookEntry &row : loaded.entries()) {
        if (row.Status == StatusDownloading)
            std::abort(); // nothing is being grabbed while the list loads
        for (const QString *field : {&row.BookName, &row.PagesDone, &row.Status, &row.CurrentUrl}) {
            if (field->contains(u'|') || field->contains(u'\r') || field->contains(u'\n'))
                std::abort();
        }
    }
    SaveBookList(loaded, copy);
    BookListModel reloaded;
    LoadBookList(reloaded, copy);
    if (reloaded.entries() != loaded.entries())
        std::abort();
    const QByteArray saved = qh::text::readFile(copy);
    SaveBookList(reloaded, copy);
    if (qh::text::readFile(copy) != saved)
        std::abort();
    return 0;
}
