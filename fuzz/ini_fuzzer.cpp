// SysCfg.ini may have been written by anyone: whatever its bytes, reading it and setting one key keeps every other
// line and every other value, the key reads back as set, and the file saved reads back as it was.
#include "common/error.h"
#include "common/textfile.h"
#include "settings/inifile.h"

#include <QByteArray>
#include <QDir>
#include <QString>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>

using namespace Qt::StringLiterals;
using qh::settings::IniFile;

namespace {

struct Key
{
    QString section;
    QString key;
};

// Every section and key the file names, as the reader sees them (a key before any section is in no section and
// cannot be asked for).
QString trimBlanks(const QString &text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && (text.at(begin) == u' ' || text.at(begin) == u'\t'))
        ++begin;
    while (end > begin && (text.at(end - 1) == u' ' || text.at(end - 1) == u'\t'))
        --end;
    return text.mid(begin, end - begin);
}

QList<Key> keysOf(const QStringList &lines)
{
    QList<Key> keys;
    std::optional<QString> section;
    for (const QString &line : lines) {
        const QString trimmed = trimBlanks(line);
        if (trimmed.startsWith(u'[')) {
            const qsizetype close = trimmed.indexOf(u']');
            section = trimBlanks(trimmed.mid(1, close < 0 ? -1 : close - 1));
            continue;
        }
        const qsizetype equals = line.indexOf(u'=');
        if (section && equals >= 0)
            keys.append({*section, trimBlanks(line.left(equals))});
    }
    return keys;
}

QList<std::optional<QString>> valuesOf(const IniFile &file, const QList<Key> &keys)
{
    QList<std::optional<QString>> values;
    for (const Key &key : keys)
        values.append(file.value(key.section, key.key));
    return values;
}

// A section or key name as the program spells its own: no brackets, '=' or line breaks, and no blanks at either
// end. Names from elsewhere are not promised to read back.
bool isProgramName(const QString &name)
{
    if (name.isEmpty() || name.front() == u' ' || name.front() == u'\t' || name.back() == u' ' || name.back() == u'\t')
        return false;
    for (const QChar c : name) {
        if (c == u'[' || c == u']' || c == u'=' || c == u'\r' || c == u'\n' || c == u';')
            return false;
    }
    return true;
}

// Whether before is after with one block of at most three lines taken out.
bool isAfterWithOneBlockAdded(const QStringList &before, const QStringList &after)
{
    const qsizetype added = after.size() - before.size();
    if (added < 1 || added > 3)
        return false;
    qsizetype head = 0;
    while (head < before.size() && before.at(head) == after.at(head))
        ++head;
    for (qsizetype i = head; i < before.size(); ++i) {
        if (before.at(i) != after.at(i + added))
            return false;
    }
    return true;
}

QString scratchFile()
{
    static QTemporaryDir dir(QDir::tempPath() + u"/ini_fuzzer-XXXXXX"_s);
    return dir.filePath(u"SysCfg.ini"_s);
}

} // namespace

// The input's first line is the edit, "section|key|value" in UTF-8; the rest is the file's bytes.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));
    const qsizetype newline = input.indexOf('\n');
    const QStringList edit = QString::fromUtf8(input.first(qMax<qsizetype>(newline, 0))).split(u'|');
    const QByteArray bytes = newline < 0 ? input : input.sliced(newline + 1);

    const QStringList lines = qh::text::splitLines(qh::text::decode(bytes));
    const IniFile original(lines);
    const QString path = scratchFile();
    original.save(path);
    if (IniFile::load(path).lines() != lines)
        std::abort();

    const QList<Key> keys = keysOf(lines);
    const QList<std::optional<QString>> before = valuesOf(original, keys);
    if (edit.size() != 3 || !isProgramName(edit.at(0)) || !isProgramName(edit.at(1)))
        return 0;
    const QString &section = edit.at(0);
    const QString &key = edit.at(1);
    const QString value = edit.at(2);

    IniFile edited = original;
    try {
        edited.setValue(section, key, value);
    } catch (const qh::Error &) {
        if (!value.contains(u'\r') && !value.contains(u'\n'))
            std::abort();
        if (edited.lines() != lines)
            std::abort();
        return 0;
    }
    if (edited.value(section, key) != value)
        std::abort();
    const bool existed = original.value(section, key).has_value();
    if (existed) {
        // One line changed, in place.
        if (edited.lines().size() != lines.size())
            std::abort();
        int changed = 0;
        for (qsizetype i = 0; i < lines.size(); ++i)
            changed += edited.lines().at(i) != lines.at(i) ? 1 : 0;
        if (changed > 1)
            std::abort();
    } else if (!isAfterWithOneBlockAdded(lines, edited.lines())) {
        std::abort();
    }
    const QList<std::optional<QString>> after = valuesOf(edited, keys);
    for (qsizetype i = 0; i < keys.size(); ++i) {
        const bool same = keys.at(i).section.compare(section, Qt::CaseInsensitive) == 0 &&
                          keys.at(i).key.compare(key, Qt::CaseInsensitive) == 0;
        if (!same && after.at(i) != before.at(i))
            std::abort();
    }

    edited.save(path);
    const IniFile reloaded = IniFile::load(path);
    if (reloaded.lines() != edited.lines() || reloaded.value(section, key) != value)
        std::abort();
    return 0;
}
