#pragma once

#include "common/textfile.h"

#include <QStringList>

namespace qh::engine {

// A book's text file: each entry of the content list (a chapter title or a chapter text) followed by CR LF, every
// line break inside an entry written as CR LF and U+00A0 written as a plain space, so that the file is plain text
// in one line-end convention whatever the page's markup held.
QByteArray formatBookText(const QStringList &contentList, text::Encoding encoding);

// Replaces the book's file atomically. Throws qh::Error.
void writeBookFile(const QString &path, const QStringList &contentList, text::Encoding encoding);

// The lines of an existing book file, for resuming. Throws qh::Error.
QStringList readBookFile(const QString &path, text::Encoding encoding);

} // namespace qh::engine
