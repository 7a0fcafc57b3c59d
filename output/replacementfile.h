#pragma once

#include <QString>

namespace qh::output {

// Throws qh::Error: the file could not be saved, for cause.
[[noreturn]] void failSaving(const QString &path, const QString &cause);

// A file beside the target that takes the target's place on commit(), so a reader of the target never sees half a
// book; it is removed unless committed.
class ReplacementFile
{
public:
    explicit ReplacementFile(const QString &target);
    ~ReplacementFile();
    ReplacementFile(const ReplacementFile &) = delete;
    ReplacementFile &operator=(const ReplacementFile &) = delete;

    const QString &path() const { return m_path; }

    // On disk first, then renamed, so that a crash leaves the old book or the new one whole. Throws qh::Error.
    void commit();

private:
    QString m_target;
    QString m_path;
    bool m_committed = false;
};

} // namespace qh::output
