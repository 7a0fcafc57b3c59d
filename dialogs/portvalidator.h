#pragma once

#include <QValidator>

namespace qh::dialogs {

// A proxy port as typed: empty (no proxy port) or a decimal number from 0 to 65535. Anything else cannot be typed
// at all, so the settings never hold a port that no socket could use.
class PortValidator : public QValidator
{
    Q_OBJECT

public:
    using QValidator::QValidator;

    State validate(QString &input, int &pos) const override;
};

} // namespace qh::dialogs
