#include "output/zipwriter.h"

#include "common/error.h"
#include "output/zipreader.h"

#include <QDir>
#include <QFile>

#include <zip.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <optional>

namespace qh::output {

namespace {

QString zipErrorText(int code)
{
    zip_error_t error;
    zip_error_init_with_code(&error, code);
    const QString text = QString::fromLocal8Bit(zip_error_strerror(&error));
    zip_error_fini(&error);
    return text;
}

} // namespace

// An entry made on demand: libzip asks for its size, then opens, reads and closes it during zip_close(), so only
// the entry being written holds its bytes.
struct GeneratedEntry
{
    std::function<QByteArray()> generate;
    std::optional<DeflatedBytes> deflated; // given instead of generate: bytes libzip writes as they are
    std::exception_ptr *failure = nullptr;
    QByteArray bytes;
    qint64 size = -1;
    qsizetype offset = 0;
    bool isOpen = false;
    zip_error_t error;

    GeneratedEntry() { zip_error_init(&error); }
    ~GeneratedEntry() { zip_error_fini(&error); }
    GeneratedEntry(const GeneratedEntry &) = delete;
    GeneratedEntry &operator=(const GeneratedEntry &) = delete;

    zip_int64_t handle(void *data, zip_uint64_t length, zip_source_cmd_t command)
    {
        switch (command) {
        case ZIP_SOURCE_OPEN:
            bytes = deflated ? deflated->deflated : generate();
            size = bytes.size();
            offset = 0;
            isOpen = true;
            return 0;
        case ZIP_SOURCE_READ: {
            const auto count = qsizetype(std::min<zip_uint64_t>(length, zip_uint64_t(bytes.size() - offset)));
            std::memcpy(data, bytes.constData() + offset, size_t(count));
            offset += count;
            return count;
        }
        case ZIP_SOURCE_CLOSE:
            bytes = QByteArray();
            isOpen = false;
            return 0;
        case ZIP_SOURCE_STAT: {
            auto *stat = ZIP_SOURCE_GET_ARGS(zip_stat_t, data, length, &error);
            if (!stat)
                return -1;
            zip_stat_init(stat);
            if (deflated) {
                // Already compressed: libzip copies the stream and takes size and checksum from here.
                stat->size = zip_uint64_t(deflated->size);
                stat->comp_size = zip_uint64_t(deflated->deflated.size());
                stat->comp_method = ZIP_CM_DEFLATE;
                stat->crc = deflated->crc;
                stat->valid |= ZIP_STAT_SIZE | ZIP_STAT_COMP_SIZE | ZIP_STAT_COMP_METHOD | ZIP_STAT_CRC;
                return sizeof(zip_stat_t);
            }
            // Made and dropped again when not open, so that a libzip that asks every entry first holds none.
            if (size < 0)
                size = generate().size();
            stat->size = zip_uint64_t(size);
            stat->valid |= ZIP_STAT_SIZE;
            return sizeof(zip_stat_t);
        }
        case ZIP_SOURCE_ERROR:
            return zip_error_to_data(&error, data, length);
        case ZIP_SOURCE_SUPPORTS:
            return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE, ZIP_SOURCE_STAT,
                                                  ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE, ZIP_SOURCE_SUPPORTS, -1);
        default:
            zip_error_set(&error, ZIP_ER_OPNOTSUPP, 0);
            return -1;
        }
    }
};

namespace {

zip_int64_t generatedEntryCallback(void *userdata, void *data, zip_uint64_t length, zip_source_cmd_t command)
{
    auto *entry = static_cast<GeneratedEntry *>(userdata);
    if (command == ZIP_SOURCE_FREE) {
        delete entry;
        return 0;
    }
    // No exception may cross libzip's C frames: keep the first for close() and fail the read.
    try {
        return entry->handle(data, length, command);
    } catch (...) {
        if (!*entry->failure)
            *entry->failure = std::current_exception();
        zip_error_set(&entry->error, ZIP_ER_INTERNAL, 0);
        return -1;
    }
}

struct FreeSource
{
    void operator()(zip_source_t *source) const { zip_source_free(source); }
};
using SourcePtr = std::unique_ptr<zip_source_t, FreeSource>;

} // namespace

DeflatedBytes deflateFast(const QByteArray &bytes)
{
    DeflatedBytes result;
    result.size = bytes.size();
    result.crc = quint32(crc32_z(0, reinterpret_cast<const Bytef *>(bytes.constData()), size_t(bytes.size())));
    z_stream stream{};
    // Negative window bits: a raw stream, as a ZIP entry holds it, without zlib's header and trailer.
    if (deflateInit2(&stream, 1, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throw Error(QStringLiteral("无法压缩：%1").arg(QString::fromLatin1(stream.msg ? stream.msg : "zlib")));
    result.deflated.resize(qsizetype(deflateBound(&stream, uLong(bytes.size()))));
    stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(bytes.constData()));
    stream.avail_in = uInt(bytes.size());
    stream.next_out = reinterpret_cast<Bytef *>(result.deflated.data());
    stream.avail_out = uInt(result.deflated.size());
    const int status = deflate(&stream, Z_FINISH);
    result.deflated.resize(qsizetype(stream.total_out));
    deflateEnd(&stream);
    if (status != Z_STREAM_END)
        throw Error(QStringLiteral("无法压缩：zlib 返回 %1").arg(status));
    return result;
}

void ZipWriter::Discard::operator()(zip *archive) const
{
    zip_discard(archive);
}

ZipWriter::ZipWriter(const QString &path, const QString &shownPath, std::time_t mtime)
    : m_shownPath(shownPath), m_mtime(mtime)
{
    int code = ZIP_ER_OK;
    m_archive.reset(zip_open(QFile::encodeName(path).constData(), ZIP_CREATE | ZIP_EXCL, &code));
    if (!m_archive)
        fail(zipErrorText(code));
}

ZipWriter::~ZipWriter() = default;

void ZipWriter::fail(const QString &cause) const
{
    throw Error(QStringLiteral("无法保存文件“%1”：%2").arg(QDir::toNativeSeparators(m_shownPath), cause));
}

void ZipWriter::addBytes(const QString &name, const QByteArray &bytes, Method method)
{
    // Qt shares the bytes, so the entry holds no copy of them.
    addGenerated(
        name, [bytes] { return bytes; }, method);
}

void ZipWriter::addGenerated(const QString &name, std::function<QByteArray()> generate, Method method)
{
    auto entry = std::make_unique<GeneratedEntry>();
    entry->generate = std::move(generate);
    const zip_uint64_t index = addEntry(name, std::move(entry));
    const zip_int32_t compression = method == Method::Store ? ZIP_CM_STORE : ZIP_CM_DEFLATE;
    const zip_uint32_t level = method == Method::DeflateFast ? 1 : 0; // 0: zlib's default
    if (zip_set_file_compression(m_archive.get(), index, compression, level) < 0)
        fail(QString::fromLocal8Bit(zip_strerror(m_archive.get())));
}

void ZipWriter::addDeflated(const QString &name, DeflatedBytes bytes)
{
    auto entry = std::make_unique<GeneratedEntry>();
    entry->deflated = std::move(bytes);
    // No compression is set: the entry keeps the method its source reports, so libzip does not deflate it again.
    addEntry(name, std::move(entry));
}

std::uint64_t ZipWriter::addEntry(const QString &name, std::unique_ptr<GeneratedEntry> entry)
{
    entry->failure = &m_generatorFailure;
    zip_error_t error;
    zip_error_init(&error);
    SourcePtr source(zip_source_function_create(generatedEntryCallback, entry.get(), &error));
    const QString cause = QString::fromLocal8Bit(zip_error_strerror(&error));
    zip_error_fini(&error);
    if (!source)
        fail(cause);
    (void)entry.release(); // the source's ZIP_SOURCE_FREE deletes it

    zip *archive = m_archive.get();
    const zip_int64_t index = zip_file_add(archive, name.toUtf8().constData(), source.get(), 0);
    if (index < 0)
        fail(QString::fromLocal8Bit(zip_strerror(archive)));
    (void)source.release(); // the archive owns it now
    if (zip_file_set_mtime(archive, zip_uint64_t(index), m_mtime, 0) < 0)
        fail(QString::fromLocal8Bit(zip_strerror(archive)));
    return zip_uint64_t(index);
}

void ZipWriter::addCopy(const QString &name, const ZipReader &from, const QString &fromName)
{
    zip *archive = m_archive.get();
    const zip_int64_t fromIndex = zip_name_locate(from.m_archive.get(), fromName.toUtf8().constData(), 0);
    if (fromIndex < 0)
        from.fail(QStringLiteral("没有“%1”。").arg(fromName));
    // From offset 0 to the end, libzip copies the stored bytes without inflating them.
    SourcePtr source(zip_source_zip(archive, from.m_archive.get(), zip_uint64_t(fromIndex), 0, 0, -1));
    if (!source)
        fail(QString::fromLocal8Bit(zip_strerror(archive)));
    const zip_int64_t index = zip_file_add(archive, name.toUtf8().constData(), source.get(), 0);
    if (index < 0)
        fail(QString::fromLocal8Bit(zip_strerror(archive)));
    (void)source.release();
    if (zip_file_set_mtime(archive, zip_uint64_t(index), m_mtime, 0) < 0)
        fail(QString::fromLocal8Bit(zip_strerror(archive)));
}

void ZipWriter::close()
{
    if (zip_close(m_archive.get()) == 0) {
        (void)m_archive.release(); // zip_close freed it
        return;
    }
    if (m_generatorFailure) {
        // A page that could not be made: say so under the file's name.
        try {
            std::rethrow_exception(m_generatorFailure);
        } catch (const Error &error) {
            fail(error.message());
        } catch (const std::exception &error) {
            fail(QString::fromLocal8Bit(error.what()));
        }
    }
    fail(QString::fromLocal8Bit(zip_strerror(m_archive.get())));
}

} // namespace qh::output
