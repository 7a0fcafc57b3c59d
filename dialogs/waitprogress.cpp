#include "dialogs/waitprogress.h"

#include "core/bookqueue.h"

using namespace Qt::StringLiterals;

namespace qh::dialogs {

QString nextWaitLabel(const QString &label)
{
    const QString longer = label + u'.';
    return longer.contains(u"..........."_s) ? WaitCaption : longer;
}

bool stopCompleted(const core::BookQueue &list)
{
    return list.isEmpty() || list.head().Status == core::BookStatus::Queued;
}

} // namespace qh::dialogs
