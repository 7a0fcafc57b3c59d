#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <ctime>
#include <exception>
#include <functional>
#include <memory>

struct zip;

namespace qh::output {

class ZipReader;
struct GeneratedEntry;

// An entry's bytes deflated ahead of time (a raw deflate stream at zlib's fastest level), with what the archive's
// directory records of them, so that compressing can run on another thread while the pages come.
struct DeflatedBytes
{
    QByteArray deflated;
    quint32 crc = 0;
    qint64 size = 0; // before deflating
};
DeflatedBytes deflateFast(const QByteArray &bytes);

// A new ZIP file written with libzip. libzip writes every entry at close(), so an entry is either bytes held until
// then or a generator called when libzip reads it, whose bytes are freed once written. Errors throw qh::Error
// naming the file; a writer that is not closed removes what it wrote.
class ZipWriter
{
public:
    // Creates path, which must not exist yet. Errors name shownPath (the file the user knows of, when path is a
    // temporary one). Entries get mtime as their time.
    ZipWriter(const QString &path, const QString &shownPath, std::time_t mtime);
    ~ZipWriter();

    ZipWriter(const ZipWriter &) = delete;
    ZipWriter &operator=(const ZipWriter &) = delete;

    enum class Method
    {
        Store,
        Deflate,
        DeflateFast, // zlib's fastest level: a book's chapters, which are most of its bytes and its writing time
    };

    void addBytes(const QString &name, const QByteArray &bytes, Method method = Method::Deflate);
    // generate must give the same bytes each time: libzip may ask for an entry's size before reading it.
    void addGenerated(const QString &name, std::function<QByteArray()> generate, Method method = Method::Deflate);

    // An entry deflated ahead of time, written as it is.
    void addDeflated(const QString &name, DeflatedBytes bytes);

    // The entry fromName of another archive, copied as it is stored there (compressed bytes and all, never inflated
    // and deflated again). from must stay open until close().
    void addCopy(const QString &name, const ZipReader &from, const QString &fromName);

    // Writes the file. An exception thrown by a generator is rethrown here.
    void close();

private:
    struct Discard
    {
        void operator()(zip *archive) const;
    };

    [[noreturn]] void fail(const QString &cause) const;
    // Hands the entry to the archive as a source of the given name; returns its index.
    std::uint64_t addEntry(const QString &name, std::unique_ptr<GeneratedEntry> entry);

    QString m_shownPath;
    std::time_t m_mtime;
    std::unique_ptr<zip, Discard> m_archive;
    std::exception_ptr m_generatorFailure; // set by a generator that threw while libzip read it
};

} // namespace qh::output
