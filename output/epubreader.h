#pragma once

#include "output/epubwriter.h"

#include <QList>
#include <QString>

namespace qh::output {

// The pages of an EPUB that writeEpub() made, in spine order: each document's heading as the title (empty when it
// has none) and its paragraphs as the text's lines, joined with LF; an empty line is a <br/> between paragraphs.
// What the writer drops or changes (characters XML cannot hold, U+00A0, CR) does not come back. Throws qh::Error
// naming the file and the cause.
QList<EpubPage> readEpubChapters(const QString &path);

} // namespace qh::output
