#pragma once

#include <QString>
#include <QStringList>
#include <QStringView>

// How a page's text becomes XML text, shared by the EPUB's writer and its reader.
namespace qh::output::xml {

// Appends text with & < > " escaped and without the characters XML 1.0 cannot hold (C0 controls but tab, LF and
// CR; U+FFFE, U+FFFF; unpaired surrogates). U+00A0 becomes a plain space, as in the text book, so both books of a
// grab read the same.
void appendEscaped(QString &out, QStringView text);
QString escaped(QStringView text);

// The lines of a text, split at CR LF, CR or LF. Unlike text::splitLines() a break at the end does start another
// (empty) line, so that joining the lines with LF gives the text back; only the empty text has no lines.
QStringList textLines(QStringView text);

} // namespace qh::output::xml
