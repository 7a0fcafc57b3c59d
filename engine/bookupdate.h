#pragma once

#include "core/finishedbooks.h"

#include <QString>

namespace qh::core {
class BookQueue;
}

namespace qh::engine {

enum class UpdateQueued
{
    Queued,
    AlreadyQueued, // a row of the book's name is in the queue (an update stopped earlier): it goes on from there
};

// Queues an update of a finished book: a row at its last page, with a checkpoint saying that the book goes on after
// that page, in the book's own file, which must be exactly as the book was left. The scheduler then takes it like
// any book: it reads the last page for its next link and appends what comes after it. The caller saves the queue.
// Throws qh::Error naming the file when the book cannot be updated (its file gone or changed, a format that cannot
// be appended to).
UpdateQueued queueBookUpdate(core::BookQueue &queue, const core::FinishedBook &book, const QString &workFolder);

} // namespace qh::engine
