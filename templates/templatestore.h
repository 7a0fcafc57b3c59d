#pragma once

#include "common/messagesink.h"

#include <QString>
#include <QStringList>
#include <QStringView>

namespace qh::templates {

// The automatic choice: the first item of the template chooser and the name that asks ReadTemplateParam to pick a
// template by site head.
inline constexpr QStringView AutomaticChoice = u"自动";

// The line that starts every record.
inline constexpr QStringView RecordSeparator = u"@@@@@@@@@@";

// Statuses of AddTemplateRecord and WriteTemplateParam; informational only.
inline constexpr QStringView StatusSuccess = u"success";
inline constexpr QStringView StatusError = u"error";
inline constexpr QStringView StatusNoName = u"errornoname";
inline constexpr QStringView StatusNoHead = u"errornohead";

// All grab templates as the plain lines of the template file (decoded text, no line ends): one record after
// another, each a separator line, "name=", "head=" and key=value lines. The store keeps every line it was given,
// unknown keys and keyless lines included, so a load and a save lose nothing. Every operation scans from the first
// line; lines compare exactly and case-sensitively.
class TemplateStore
{
public:
    TemplateStore() = default;
    explicit TemplateStore(QStringList lines) : m_lines(std::move(lines)) {}

    const QStringList &lines() const { return m_lines; }
    bool isEmpty() const { return m_lines.isEmpty(); }
    friend bool operator==(const TemplateStore &, const TemplateStore &) = default;

    // True if a line is "name=" + name.
    bool FindTemplateByName(const QString &name) const;

    // True if some template serves pages with this site head (see headsMatch).
    bool TemplateExistsForHead(const QString &head) const;

    // Appends a record with only its separator, name and head lines. "error" (nothing changed) if the name exists.
    QString AddTemplateRecord(const QString &name, const QString &head);

    // Sets key in the record found by name (or, with an empty name, by the exact head line): an existing key line
    // is replaced where it stands, a missing key becomes the record's last line. Returns "success", or
    // "errornoname" / "errornohead" with nothing changed. key is a grab key, never "name" or "head".
    QString WriteTemplateParam(const QString &name, const QString &head, const QString &key, const QString &value);

    // The value of key in the record found by name, or, when name is empty or "自动", in the first record whose
    // head serves head; in that case name is set to that record's name. "-1" when there is no such record or key.
    QString ReadTemplateParam(const QString &head, const QString &key, QString &name) const;

    // Exchange the first record named name with the one before / after it. False without a message when there is
    // no such name; false with a message through messages when it is already the first / last.
    bool MoveTemplateUp(const QString &name, MessageSink &messages);
    bool MoveTemplateDown(const QString &name, MessageSink &messages);

    // Removes the LAST record named name. False if there is none.
    bool DeleteTemplate(const QString &name);

    // Every name / head in store order; the names list starts with "自动" when withAutomatic is true.
    QStringList ListTemplateNames(bool withAutomatic) const;
    QStringList ListTemplateHeads() const;

    // The lines of the first record named name, from its separator to its last line; empty if there is none.
    QStringList recordOf(const QString &name) const;

private:
    qsizetype firstLine(const QString &line) const;
    qsizetype recordEnd(qsizetype from) const;

    QStringList m_lines;
};

} // namespace qh::templates
