#include "common/textfile.h"

#include "common/error.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <QStringEncoder>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <random>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace qh::text {

namespace {

const char *codecName(Encoding encoding)
{
    return encoding == Encoding::Utf8 ? "UTF-8" : "GB18030";
}

QString nativePath(const QString &path)
{
    return QDir::toNativeSeparators(path);
}

// GB18030 for every character of the Basic Multilingual Plane but the surrogates, as ICU encodes it, made with one
// ICU call: a chapter is then encoded by lookups, about three times as fast as by ICU's converter.
class Gb18030Table
{
public:
    struct Bytes
    {
        char bytes[4];
        quint8 length;
    };

    Gb18030Table() : m_characters(0x10000, Bytes{})
    {
        QString all;
        all.reserve(0x10000);
        for (char32_t c = 0; c < 0x10000; ++c) {
            if (!QChar::isSurrogate(c))
                all.append(QChar(char16_t(c)));
        }
        QStringEncoder encoder(codecName(Encoding::Gb18030), QStringConverter::Flag::Stateless);
        const QByteArray bytes = encoder.encode(all);
        // A byte below 0x80 stands alone; a second byte 0x30..0x39 makes a four-byte sequence, any other a pair.
        const auto *data = reinterpret_cast<const unsigned char *>(bytes.constData());
        const qsizetype size = bytes.size();
        qsizetype at = 0;
        for (const QChar c : std::as_const(all)) {
            int length = 2;
            if (at >= size)
                return; // not the shape expected: ICU encodes everything
            if (data[at] < 0x80)
                length = 1;
            else if (at + 1 < size && data[at + 1] >= 0x30 && data[at + 1] <= 0x39)
                length = 4;
            if (at + length > size)
                return;
            Bytes &character = m_characters[c.unicode()];
            std::memcpy(character.bytes, data + at, std::size_t(length));
            character.length = quint8(length);
            at += length;
        }
        m_valid = at == size;
    }

    bool isValid() const { return m_valid; }
    const Bytes &operator[](QChar c) const { return m_characters[c.unicode()]; }

private:
    std::vector<Bytes> m_characters; // by code unit; surrogates have none
    bool m_valid = false;
};

// Texts shorter than this go to ICU, so that a program that only writes a short list never makes the table.
constexpr qsizetype kTableMinLength = 256;

// The GB18030 bytes of text, or nothing when ICU must encode it (surrogates, or no table).
std::optional<QByteArray> encodeGb18030ByTable(QStringView text)
{
    static const Gb18030Table table;
    if (!table.isValid())
        return std::nullopt;
    qsizetype size = 0;
    for (const QChar c : text) {
        if (c.isSurrogate())
            return std::nullopt;
        size += table[c].length;
    }
    // Each character is copied as four bytes: room for the last one's.
    QByteArray bytes(size + 3, Qt::Uninitialized);
    char *out = bytes.data();
    for (const QChar c : text) {
        const Gb18030Table::Bytes &character = table[c];
        std::memcpy(out, character.bytes, sizeof character.bytes);
        out += character.length;
    }
    bytes.resize(size);
    return bytes;
}

} // namespace

QByteArray encode(const QString &text, Encoding encoding)
{
    // GB18030 covers all of Unicode, so nothing is lost; a lone surrogate is the only thing that can't be encoded
    // and the converter writes its replacement for it.
    if (encoding == Encoding::Gb18030 && text.size() >= kTableMinLength) {
        if (std::optional<QByteArray> bytes = encodeGb18030ByTable(text))
            return *std::move(bytes);
    }
    QStringEncoder encoder(codecName(encoding), QStringConverter::Flag::Stateless);
    return encoder.encode(text);
}

QString decode(const QByteArray &bytes, Encoding encoding)
{
    QStringDecoder decoder(codecName(encoding), QStringConverter::Flag::Stateless);
    return decoder.decode(bytes);
}

QStringList splitLines(const QString &text)
{
    QStringList lines;
    qsizetype start = 0;
    const qsizetype size = text.size();
    for (qsizetype i = 0; i < size; ++i) {
        const QChar c = text.at(i);
        if (c != u'\r' && c != u'\n')
            continue;
        lines.append(text.mid(start, i - start));
        if (c == u'\r' && i + 1 < size && text.at(i + 1) == u'\n')
            ++i;
        start = i + 1;
    }
    if (start < size)
        lines.append(text.mid(start));
    return lines;
}

QByteArray joinLines(const QStringList &lines, Encoding encoding)
{
    QString text;
    qsizetype total = 0;
    for (const QString &line : lines)
        total += line.size() + 2;
    text.reserve(total);
    for (const QString &line : lines) {
        text += line;
        text += u"\r\n";
    }
    return encode(text, encoding);
}

QByteArray readFile(const QString &path, qint64 maxBytes)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw Error(QStringLiteral("无法打开文件“%1”：%2").arg(nativePath(path), file.errorString()));
    if (file.size() > maxBytes)
        throw Error(QStringLiteral("文件“%1”太大（%2 字节，最多 %3 字节）。")
                        .arg(nativePath(path))
                        .arg(file.size())
                        .arg(maxBytes));
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw Error(QStringLiteral("无法读取文件“%1”：%2").arg(nativePath(path), file.errorString()));
    return bytes;
}

QStringList readLines(const QString &path, Encoding encoding)
{
    return splitLines(decode(readFile(path), encoding));
}

namespace {

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// Writes all of bytes to fd; false with errno set when the system takes less (a full disk, a size limit).
bool writeAll(int fd, const char *data, qint64 size)
{
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size_t(size));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            if (written == 0)
                errno = ENOSPC;
            return false;
        }
        data += written;
        size -= written;
    }
    return true;
}

// A new file's name beside path that nobody else uses.
QString temporaryNameBeside(const QString &path)
{
    static std::mt19937_64 random{std::random_device{}()};
    const QFileInfo info(path);
    return info.absolutePath() + QStringLiteral("/.") + info.fileName() + u'.' + QString::number(random(), 36) +
           QStringLiteral(".tmp");
}

void syncFolderOf(const QString &path)
{
    const int fd = ::open(QFile::encodeName(QFileInfo(path).absolutePath()).constData(), O_RDONLY | O_DIRECTORY);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

} // namespace

// Every step is checked by hand: buffered writers report a short write only on a flush that their commit may not
// check, which would rename a cut file over a good one.
void writeFileAtomically(const QString &path, const QByteArray &bytes)
{
    const auto fail = [&](int error) {
        throw Error(QStringLiteral("无法保存文件“%1”：%2").arg(nativePath(path), systemError(error)));
    };
    const QByteArray target = QFile::encodeName(path);
    QString temporary;
    int fd = -1;
    for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
        temporary = temporaryNameBeside(path);
        fd = ::open(QFile::encodeName(temporary).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd < 0 && errno != EEXIST)
            fail(errno);
    }
    if (fd < 0)
        fail(EEXIST);
    const QByteArray temporaryName = QFile::encodeName(temporary);
    const auto discard = [&](int error) {
        if (fd >= 0)
            ::close(fd);
        ::unlink(temporaryName.constData());
        fail(error);
    };
    // The new file keeps the old one's permissions.
    struct stat old
    {};
    if (::stat(target.constData(), &old) == 0)
        ::fchmod(fd, old.st_mode & 07777);
    if (!writeAll(fd, bytes.constData(), bytes.size()))
        discard(errno);
    if (::fsync(fd) != 0)
        discard(errno);
    const int closed = ::close(fd);
    fd = -1;
    if (closed != 0)
        discard(errno);
    if (::rename(temporaryName.constData(), target.constData()) != 0)
        discard(errno);
    syncFolderOf(path);
}

void appendToFile(const QString &path, const QByteArray &bytes, bool flush)
{
    const auto fail = [&](int error) {
        throw Error(QStringLiteral("无法写入文件“%1”：%2").arg(nativePath(path), systemError(error)));
    };
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        fail(errno);
    const off_t end = ::lseek(fd, 0, SEEK_END);
    if (end < 0) {
        const int error = errno;
        ::close(fd);
        fail(error);
    }
    const auto undo = [&](int error) {
        // What was written of a failed append goes again, so the file ends on the last whole write.
        [[maybe_unused]] const int truncated = ::ftruncate(fd, end);
        ::fsync(fd);
        ::close(fd);
        fail(error);
    };
    if (!writeAll(fd, bytes.constData(), bytes.size()))
        undo(errno);
    if (flush && ::fsync(fd) != 0)
        undo(errno);
    if (::close(fd) != 0)
        fail(errno);
    if (flush && end == 0)
        syncFolderOf(path);
}

void truncateFile(const QString &path, qint64 size)
{
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_WRONLY | O_CLOEXEC);
    if (fd < 0 || ::ftruncate(fd, off_t(size)) != 0 || ::fsync(fd) != 0) {
        const int error = errno;
        if (fd >= 0)
            ::close(fd);
        throw Error(QStringLiteral("无法写入文件“%1”：%2").arg(nativePath(path), systemError(error)));
    }
    ::close(fd);
}

void writeLines(const QString &path, const QStringList &lines, Encoding encoding)
{
    writeFileAtomically(path, joinLines(lines, encoding));
}

} // namespace qh::text
