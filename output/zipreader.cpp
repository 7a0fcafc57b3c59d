#include "output/zipreader.h"

#include "common/error.h"

#include <QDir>
#include <QFile>

#include <zip.h>

namespace qh::output {

namespace {

struct CloseFile
{
    void operator()(zip_file_t *file) const { zip_fclose(file); }
};

} // namespace

void ZipReader::Discard::operator()(zip *archive) const
{
    zip_discard(archive);
}

ZipReader::ZipReader(const QString &path) : m_path(path)
{
    int code = ZIP_ER_OK;
    m_archive.reset(zip_open(QFile::encodeName(path).constData(), ZIP_RDONLY, &code));
    if (!m_archive) {
        zip_error_t error;
        zip_error_init_with_code(&error, code);
        const QString cause = QString::fromLocal8Bit(zip_error_strerror(&error));
        zip_error_fini(&error);
        fail(cause);
    }
}

ZipReader::~ZipReader() = default;

void ZipReader::fail(const QString &cause) const
{
    throw Error(QStringLiteral("无法读取文件“%1”：%2").arg(QDir::toNativeSeparators(m_path), cause));
}

bool ZipReader::contains(const QString &name) const
{
    return zip_name_locate(m_archive.get(), name.toUtf8().constData(), 0) >= 0;
}

QByteArray ZipReader::read(const QString &name, qint64 maxBytes) const
{
    const QByteArray entryName = name.toUtf8();
    zip_stat_t stat;
    if (zip_stat(m_archive.get(), entryName.constData(), 0, &stat) < 0 || !(stat.valid & ZIP_STAT_SIZE))
        fail(QStringLiteral("没有“%1”：%2").arg(name, QString::fromLocal8Bit(zip_strerror(m_archive.get()))));
    if (stat.size > zip_uint64_t(maxBytes))
        fail(QStringLiteral("“%1”太大（%2 字节）。").arg(name).arg(stat.size));

    std::unique_ptr<zip_file_t, CloseFile> file(zip_fopen(m_archive.get(), entryName.constData(), 0));
    if (!file)
        fail(QStringLiteral("无法打开“%1”：%2").arg(name, QString::fromLocal8Bit(zip_strerror(m_archive.get()))));
    QByteArray bytes(qsizetype(stat.size), Qt::Uninitialized);
    qsizetype done = 0;
    while (done < bytes.size()) {
        const zip_int64_t count = zip_fread(file.get(), bytes.data() + done, zip_uint64_t(bytes.size() - done));
        if (count < 0)
            fail(QStringLiteral("无法读取“%1”：%2").arg(name, QString::fromLocal8Bit(zip_file_strerror(file.get()))));
        if (count == 0)
            fail(QStringLiteral("“%1”比目录所记的短。").arg(name));
        done += qsizetype(count);
    }
    return bytes;
}

} // namespace qh::output
