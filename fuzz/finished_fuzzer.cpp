// finished.dat may have been edited by hand or cut short: every line that reads as a finished book is written back as
// one line that reads as the same book, and writing it again gives the same line.
#include "common/textfile.h"
#include "core/finishedbooks.h"

#include <QByteArray>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

using namespace qh::core;

// The input's bytes are the list file, read as it is read.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    for (const QString &line : qh::text::splitLines(qh::text::decode(bytes, qh::text::Encoding::Utf8))) {
        const std::optional<FinishedBook> book = parseFinishedLine(line);
        if (!book)
            continue;
        const QString written = formatFinishedLine(*book);
        if (written.contains(u'\r') || written.contains(u'\n'))
            std::abort(); // a book written anew must stay one line
        const std::optional<FinishedBook> again = parseFinishedLine(written);
        if (!again || *again != *book)
            std::abort();
        if (formatFinishedLine(*again) != written)
            std::abort();
    }
    return 0;
}
