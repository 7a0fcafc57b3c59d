#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// Text files as the program keeps them: line lists in GB18030 (byte-identical to GBK for every GBK character) or
// UTF-8, each line followed by CR LF, no byte-order mark. Every write replaces the file atomically.
namespace qh::text {

enum class Encoding
{
    Gb18030,
    Utf8,
};

QByteArray encode(const QString &text, Encoding encoding = Encoding::Gb18030);
QString decode(const QByteArray &bytes, Encoding encoding = Encoding::Gb18030);

// Splits at CR LF, CR or LF. A line break at the very end does not start another line, so an empty text has no
// lines and "a\r\n" has one.
QStringList splitLines(const QString &text);

// Every line followed by CR LF, encoded. Line breaks inside a line are written as they are.
QByteArray joinLines(const QStringList &lines, Encoding encoding = Encoding::Gb18030);

// Reads a whole file; refuses one larger than maxBytes before reading it. Throws qh::Error naming the file and
// the cause.
QByteArray readFile(const QString &path, qint64 maxBytes = qint64(256) << 20);

// Reads a text file into lines. Throws qh::Error when the file cannot be read.
QStringList readLines(const QString &path, Encoding encoding = Encoding::Gb18030);

// Replaces path with bytes: written to a temporary file in the same folder, flushed to disk, then renamed over the
// old file. On failure the old file is left as it was, no temporary stays behind, and qh::Error names the file
// and the cause.
void writeFileAtomically(const QString &path, const QByteArray &bytes);

// Appends bytes to path (made when missing) and flushes them to disk. On failure the file is cut back to where it
// ended before, so it never ends in part of a write, and qh::Error names the file and the cause.
// flush: false leaves the bytes to the system's own write-back, for data that may be lost in a crash.
void appendToFile(const QString &path, const QByteArray &bytes, bool flush = true);

// Cuts path to size bytes and flushes it. Throws qh::Error.
void truncateFile(const QString &path, qint64 size);

// joinLines() written with writeFileAtomically().
void writeLines(const QString &path, const QStringList &lines, Encoding encoding = Encoding::Gb18030);

} // namespace qh::text
