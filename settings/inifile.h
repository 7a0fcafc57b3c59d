#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace qh::settings {

// An INI file edited line by line: setting a key rewrites that one line (or adds it), and every other line,
// comment, key and section stays exactly as it was. Sections and keys match without regard to case and the first
// of several equal ones counts, as with Windows' profile functions, so files written by either side read the same.
// The file is GB18030 text and is replaced atomically.
class IniFile
{
public:
    IniFile() = default;
    explicit IniFile(QStringList lines) : m_lines(std::move(lines)) {}

    // A missing file gives an empty document. Throws qh::Error when the file exists but cannot be read.
    static IniFile load(const QString &path);
    // Throws qh::Error when the file cannot be written; the old file then stays as it was.
    void save(const QString &path) const;

    // The value with surrounding blanks and one pair of enclosing quotes removed; nullopt when the key is missing.
    std::optional<QString> value(const QString &section, const QString &key) const;
    // Replaces the key's line in place, or adds it at the end of its section, creating the section at the end of
    // the file when missing. The value reads back unchanged. Throws qh::Error for a value holding a line break.
    void setValue(const QString &section, const QString &key, const QString &value);

    const QStringList &lines() const { return m_lines; }

private:
    struct Range
    {
        qsizetype header = -1; // -1: no such section
        qsizetype end = 0;     // one past the section's last line
    };

    Range findSection(const QString &section) const;
    qsizetype findKey(const Range &range, const QString &key) const;

    QStringList m_lines;
};

} // namespace qh::settings
