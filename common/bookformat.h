#pragma once

#include <QString>
#include <QStringView>

#include <optional>

namespace qh {

// What a book's file is written as. Text is what every version wrote; an EPUB book is the same pages as an EPUB 3
// file.
enum class BookFormat
{
    Text,
    Epub,
};

// The word a format is stored and typed as: "text" or "epub".
inline QString formatKey(BookFormat format)
{
    return format == BookFormat::Epub ? QStringLiteral("epub") : QStringLiteral("text");
}

// The format a word names (as formatKey() writes it, any case); nullopt for any other word.
inline std::optional<BookFormat> formatFromKey(QStringView key)
{
    if (key.compare(u"text", Qt::CaseInsensitive) == 0)
        return BookFormat::Text;
    if (key.compare(u"epub", Qt::CaseInsensitive) == 0)
        return BookFormat::Epub;
    return std::nullopt;
}

} // namespace qh
