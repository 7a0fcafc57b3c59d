#include "dialogs/waitprogress.h"

#include "app/booklistentry.h"
#include "app/booklistmodel.h"

using namespace Qt::StringLiterals;

namespace qh::dialogs {

QString nextWaitLabel(const QString &label)
{
    const QString longer = label + u'.';
    return longer.contains(u"..........."_s) ? WaitCaption : longer;
}

bool stopCompleted(const app::BookListModel &list)
{
    return list.isEmpty() || list.head().Status == app::StatusQueued;
}

} // namespace qh::dialogs
