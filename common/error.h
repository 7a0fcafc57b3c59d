#pragma once

#include <QString>

#include <exception>

namespace qh {

// The program's error: raised where an operation cannot go on and shown to the user as it stands, so the message
// must read well on its own (name the file or address and the cause).
class Error : public std::exception
{
public:
    explicit Error(QString message);

    const QString &message() const noexcept { return m_message; }
    const char *what() const noexcept override;

private:
    QString m_message;
    QByteArray m_utf8;
};

} // namespace qh
