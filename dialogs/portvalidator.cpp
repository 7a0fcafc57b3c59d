#include "dialogs/portvalidator.h"

namespace qh::dialogs {

QValidator::State PortValidator::validate(QString &input, int &) const
{
    if (input.isEmpty())
        return Acceptable;
    if (input.size() > 5)
        return Invalid;
    for (const QChar c : input) {
        if (c < u'0' || c > u'9')
            return Invalid;
    }
    return input.toInt() <= 65535 ? Acceptable : Invalid;
}

} // namespace qh::dialogs
