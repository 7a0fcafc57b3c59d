#include "common/textfile.h"

#include "common/error.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringDecoder>
#include <QStringEncoder>

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

} // namespace

QByteArray encode(const QString &text, Encoding encoding)
{
    // GB18030 covers all of Unicode, so nothing is lost; a lone surrogate is the only thing that can't be encoded
    // and the converter writes its replacement for it. Opening the converter costs about as much as encoding a
    // chapter, so each thread keeps its own.
    thread_local QStringEncoder encoders[] = {
        QStringEncoder(codecName(Encoding::Gb18030), QStringConverter::Flag::Stateless),
        QStringEncoder(codecName(Encoding::Utf8), QStringConverter::Flag::Stateless),
    };
    QStringEncoder &encoder = encoders[encoding == Encoding::Utf8 ? 1 : 0];
    encoder.resetState();
    return encoder.encode(text);
}

QString decode(const QByteArray &bytes, Encoding encoding)
{
    thread_local QStringDecoder decoders[] = {
        QStringDecoder(codecName(Encoding::Gb18030), QStringConverter::Flag::Stateless),
        QStringDecoder(codecName(Encoding::Utf8), QStringConverter::Flag::Stateless),
    };
    QStringDecoder &decoder = decoders[encoding == Encoding::Utf8 ? 1 : 0];
    decoder.resetState();
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

void writeFileAtomically(const QString &path, const QByteArray &bytes)
{
    QSaveFile file(path);
    const auto fail = [&](const QString &cause) {
        file.cancelWriting();
        throw Error(QStringLiteral("无法保存文件“%1”：%2").arg(nativePath(path), cause));
    };
    if (!file.open(QIODevice::WriteOnly))
        fail(file.errorString());
    if (file.write(bytes) != bytes.size())
        fail(file.errorString());
    if (!file.commit())
        fail(file.errorString());
}

void writeLines(const QString &path, const QStringList &lines, Encoding encoding)
{
    writeFileAtomically(path, joinLines(lines, encoding));
}

} // namespace qh::text
