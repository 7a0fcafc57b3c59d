#include "settings/inifile.h"

#include "common/error.h"
#include "common/textfile.h"

#include <QFileInfo>

using namespace Qt::StringLiterals;

namespace qh::settings {

namespace {

bool isBlank(QChar c)
{
    return c == u' ' || c == u'\t';
}

// Only spaces and tabs, as the profile functions do: Qt's trimmed() would also eat U+3000 and other Unicode
// spaces, which belong to a Chinese folder name.
QString trimBlanks(QStringView text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isBlank(text.at(begin)))
        ++begin;
    while (end > begin && isBlank(text.at(end - 1)))
        --end;
    return text.mid(begin, end - begin).toString();
}

bool isQuote(QChar c)
{
    return c == u'"' || c == u'\'';
}

bool isEnclosedInQuotes(const QString &text)
{
    return text.size() >= 2 && isQuote(text.front()) && text.front() == text.back();
}

std::optional<QString> sectionName(const QString &line)
{
    const QString trimmed = trimBlanks(line);
    if (!trimmed.startsWith(u'['))
        return std::nullopt;
    const qsizetype close = trimmed.indexOf(u']');
    return trimBlanks(QStringView(trimmed).mid(1, close < 0 ? -1 : close - 1));
}

std::optional<QString> keyName(const QString &line)
{
    const qsizetype equals = line.indexOf(u'=');
    if (equals < 0)
        return std::nullopt;
    return trimBlanks(QStringView(line).left(equals));
}

// What setValue() writes so that value() gives the text back: blanks at either end or enclosing quotes would be
// removed on reading, so such a value is wrapped in one more pair of quotes.
QString storedForm(const QString &value)
{
    if (trimBlanks(value) != value || isEnclosedInQuotes(value))
        return u'"' + value + u'"';
    return value;
}

} // namespace

IniFile IniFile::load(const QString &path)
{
    if (!QFileInfo::exists(path))
        return IniFile();
    return IniFile(text::readLines(path));
}

void IniFile::save(const QString &path) const
{
    text::writeLines(path, m_lines);
}

IniFile::Range IniFile::findSection(const QString &section) const
{
    Range range;
    for (qsizetype i = 0; i < m_lines.size(); ++i) {
        const std::optional<QString> name = sectionName(m_lines.at(i));
        if (!name)
            continue;
        if (range.header >= 0) {
            range.end = i;
            return range;
        }
        if (name->compare(section, Qt::CaseInsensitive) == 0)
            range.header = i;
    }
    range.end = m_lines.size();
    return range;
}

qsizetype IniFile::findKey(const Range &range, const QString &key) const
{
    if (range.header < 0)
        return -1;
    for (qsizetype i = range.header + 1; i < range.end; ++i) {
        const std::optional<QString> name = keyName(m_lines.at(i));
        if (name && name->compare(key, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

std::optional<QString> IniFile::value(const QString &section, const QString &key) const
{
    const qsizetype line = findKey(findSection(section), key);
    if (line < 0)
        return std::nullopt;
    const QString &text = m_lines.at(line);
    QString result = trimBlanks(QStringView(text).mid(text.indexOf(u'=') + 1));
    if (isEnclosedInQuotes(result))
        result = result.mid(1, result.size() - 2);
    return result;
}

void IniFile::setValue(const QString &section, const QString &key, const QString &value)
{
    // A line break would end the line early and turn the rest into a line of its own.
    if (value.contains(u'\r') || value.contains(u'\n'))
        throw Error(u"设置项“%1”的值含有换行符，无法保存。"_s.arg(key));

    const Range range = findSection(section);
    const qsizetype existing = findKey(range, key);
    if (existing >= 0) {
        // Keep the key as the file spells it; only the value changes.
        QString &line = m_lines[existing];
        line = line.left(line.indexOf(u'=') + 1) + storedForm(value);
        return;
    }

    const QString newLine = key + u'=' + storedForm(value);
    if (range.header >= 0) {
        // After the section's last non-blank line, so a blank line that separates it from the next section stays
        // where it is.
        qsizetype insertAt = range.end;
        while (insertAt > range.header + 1 && trimBlanks(m_lines.at(insertAt - 1)).isEmpty())
            --insertAt;
        m_lines.insert(insertAt, newLine);
        return;
    }

    if (!m_lines.isEmpty() && !trimBlanks(m_lines.constLast()).isEmpty())
        m_lines.append(QString());
    m_lines.append(u'[' + section + u']');
    m_lines.append(newLine);
}

} // namespace qh::settings
