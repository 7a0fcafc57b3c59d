#include "templates/templatestore.h"

#include "common/messagesink.h"
#include "templates/sitehead.h"

#include <algorithm>

using namespace Qt::StringLiterals;

namespace qh::templates {

namespace {

constexpr QStringView NamePrefix = u"name=";
constexpr QStringView HeadPrefix = u"head=";

bool isSeparator(const QString &line)
{
    return line == RecordSeparator;
}

// A line's key is the text before its first "="; a line without "=" has none and matches no key.
bool hasKey(const QString &line, QStringView key)
{
    const qsizetype equals = line.indexOf(u'=');
    return equals >= 0 && QStringView(line).first(equals) == key;
}

QString valueOf(const QString &line)
{
    return line.mid(line.indexOf(u'=') + 1);
}

QString nameLine(const QString &name)
{
    return NamePrefix + name;
}

// Exchanges the adjacent blocks [first, middle) and [middle, last).
void swapBlocks(QStringList &lines, qsizetype first, qsizetype middle, qsizetype last)
{
    std::rotate(lines.begin() + first, lines.begin() + middle, lines.begin() + last);
}

} // namespace

qsizetype TemplateStore::firstLine(const QString &line) const
{
    return m_lines.indexOf(line);
}

// The index of the first separator after from, or the size of the store.
qsizetype TemplateStore::recordEnd(qsizetype from) const
{
    for (qsizetype i = from + 1; i < m_lines.size(); ++i) {
        if (isSeparator(m_lines.at(i)))
            return i;
    }
    return m_lines.size();
}

bool TemplateStore::FindTemplateByName(const QString &name) const
{
    return firstLine(nameLine(name)) >= 0;
}

bool TemplateStore::TemplateExistsForHead(const QString &head) const
{
    return std::any_of(m_lines.cbegin(), m_lines.cend(), [&head](const QString &line) {
        return line.startsWith(HeadPrefix) && headsMatch(QStringView(line).sliced(HeadPrefix.size()), head);
    });
}

QString TemplateStore::AddTemplateRecord(const QString &name, const QString &head)
{
    if (FindTemplateByName(name))
        return StatusError.toString();
    m_lines << RecordSeparator.toString() << nameLine(name) << HeadPrefix + head;
    return StatusSuccess.toString();
}

QString TemplateStore::WriteTemplateParam(const QString &name, const QString &head, const QString &key,
                                          const QString &value)
{
    const qsizetype found = name.isEmpty() ? firstLine(HeadPrefix + head) : firstLine(nameLine(name));
    if (found < 0 || found == m_lines.size() - 1)
        return (name.isEmpty() ? StatusNoHead : StatusNoName).toString();
    const QString line = key + u'=' + value;
    for (qsizetype i = found;; ++i) {
        if (hasKey(m_lines.at(i), key)) {
            m_lines[i] = line;
            break;
        }
        if (i + 1 == m_lines.size() || isSeparator(m_lines.at(i + 1))) {
            m_lines.insert(i + 1, line);
            break;
        }
    }
    return StatusSuccess.toString();
}

QString TemplateStore::ReadTemplateParam(const QString &head, const QString &key, QString &name) const
{
    const bool automatic = name.isEmpty() || name == AutomaticChoice;
    qsizetype found = -1;
    if (automatic) {
        for (qsizetype i = 0; i < m_lines.size() && found < 0; ++i) {
            const QString &line = m_lines.at(i);
            if (line.startsWith(HeadPrefix) && headsMatch(QStringView(line).sliced(HeadPrefix.size()), head))
                found = i;
        }
    } else {
        found = firstLine(nameLine(name));
    }
    if (found < 0 || found == m_lines.size() - 1)
        return u"-1"_s;
    // The record's name line stands just before its head line; a head line at the very top has none.
    if (automatic)
        name = found > 0 ? m_lines.at(found - 1).mid(NamePrefix.size()) : QString();
    const qsizetype end = recordEnd(found);
    for (qsizetype i = found; i < end; ++i) {
        if (hasKey(m_lines.at(i), key))
            return valueOf(m_lines.at(i));
    }
    return u"-1"_s;
}

bool TemplateStore::MoveTemplateUp(const QString &name, MessageSink &messages)
{
    const qsizetype nameIndex = firstLine(nameLine(name));
    if (nameIndex < 0)
        return false;
    if (nameIndex <= 1) {
        messages.ShowMsg(u"已经是第一个，无法向上移动。"_s);
        return false;
    }
    const qsizetype start = nameIndex - 1;
    qsizetype previousStart = start - 1;
    while (previousStart > 0 && !isSeparator(m_lines.at(previousStart)))
        --previousStart;
    swapBlocks(m_lines, previousStart, start, recordEnd(nameIndex));
    return true;
}

bool TemplateStore::MoveTemplateDown(const QString &name, MessageSink &messages)
{
    const qsizetype nameIndex = firstLine(nameLine(name));
    if (nameIndex < 0)
        return false;
    const qsizetype end = recordEnd(nameIndex);
    if (end == m_lines.size()) {
        messages.ShowMsg(u"已经是最后一个，无法向下移动。"_s);
        return false;
    }
    // A name line at the very top has no separator before it; its record starts with it.
    swapBlocks(m_lines, std::max<qsizetype>(nameIndex - 1, 0), end, recordEnd(end));
    return true;
}

bool TemplateStore::DeleteTemplate(const QString &name)
{
    const qsizetype nameIndex = m_lines.lastIndexOf(nameLine(name));
    if (nameIndex < 0)
        return false;
    const qsizetype start = std::max<qsizetype>(nameIndex - 1, 0);
    m_lines.remove(start, recordEnd(nameIndex) - start);
    return true;
}

QStringList TemplateStore::ListTemplateNames(bool withAutomatic) const
{
    QStringList names;
    if (withAutomatic)
        names << AutomaticChoice.toString();
    for (const QString &line : m_lines) {
        if (line.startsWith(NamePrefix))
            names << line.mid(NamePrefix.size());
    }
    return names;
}

QStringList TemplateStore::ListTemplateHeads() const
{
    QStringList heads;
    for (const QString &line : m_lines) {
        if (line.startsWith(HeadPrefix))
            heads << line.mid(HeadPrefix.size());
    }
    return heads;
}

QStringList TemplateStore::recordOf(const QString &name) const
{
    const qsizetype nameIndex = firstLine(nameLine(name));
    if (nameIndex < 0)
        return {};
    const qsizetype start = std::max<qsizetype>(nameIndex - 1, 0);
    return m_lines.mid(start, recordEnd(nameIndex) - start);
}

} // namespace qh::templates
