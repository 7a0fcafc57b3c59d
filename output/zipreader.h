#pragma once

#include <QByteArray>
#include <QString>

#include <memory>

struct zip;

namespace qh::output {

// An existing ZIP file, read entry by entry with libzip. Errors throw qh::Error naming the file.
class ZipReader
{
public:
    explicit ZipReader(const QString &path);
    ~ZipReader();

    ZipReader(const ZipReader &) = delete;
    ZipReader &operator=(const ZipReader &) = delete;

    // The entry's bytes; refuses an entry larger than maxBytes before reading it.
    QByteArray read(const QString &name, qint64 maxBytes = qint64(64) << 20) const;

    // Whether the archive holds an entry of that name.
    bool contains(const QString &name) const;

    [[noreturn]] void fail(const QString &cause) const;

private:
    friend class ZipWriter; // copies entries as they are stored

    struct Discard
    {
        void operator()(zip *archive) const;
    };

    QString m_path;
    std::unique_ptr<zip, Discard> m_archive;
};

} // namespace qh::output
