#include "common/error.h"
#include "common/textfile.h"

#include "support/testutils.h"

#include <QDir>
#include <QFile>
#include <QStringEncoder>
#include <QTemporaryDir>

#include <csignal>
#include <functional>
#include <sys/resource.h>

using namespace qh::text;
using namespace Qt::StringLiterals;

namespace {

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
    return file.readAll();
}

QStringList entriesOf(const QString &dir)
{
    return QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
}

} // namespace

// Lines split at every kind of line break; a final break does not add an empty line.
TEST(TextFile, SplitLines)
{
    const struct
    {
        QString text;
        QStringList lines;
    } cases[] = {
        {u""_s, {}},
        {u"a"_s, {u"a"_s}},
        {u"a\r\n"_s, {u"a"_s}},
        {u"a\r\nb"_s, {u"a"_s, u"b"_s}},
        {u"a\rb\nc\r\n"_s, {u"a"_s, u"b"_s, u"c"_s}},
        {u"\r\n"_s, {u""_s}},
        {u"a\r\n\r\n"_s, {u"a"_s, u""_s}},
        {u"a\n\rb"_s, {u"a"_s, u""_s, u"b"_s}},
        {u"a\r\r\nb"_s, {u"a"_s, u""_s, u"b"_s}},
    };
    for (const auto &c : cases)
        EXPECT_EQ(splitLines(c.text), c.lines) << c.text.toStdString();
}

// GBK text is written byte for byte as GBK; characters outside GBK survive through GB18030's four-byte forms.
TEST(TextFile, Gb18030IsGbkForGbkTextAndLosslessBeyond)
{
    const QString book = u"我抓的书"_s;
    EXPECT_EQ(joinLines({book, u"x"_s}), QByteArray::fromHex("ced2d7a5b5c4cae90d0a780d0a"));

    const QString beyond =
        QString::fromUtf8("\xF0\x9F\x98\x80 \xE2\x82\xAC \xC2\xA0 \xEA\xB0\x80"); // emoji, euro, nbsp, hangul
    EXPECT_EQ(decode(encode(beyond)), beyond);
    EXPECT_EQ(decode(encode(beyond, Encoding::Utf8), Encoding::Utf8), beyond);
    EXPECT_FALSE(encode(u"\u00e9"_s).startsWith("\xEF\xBB\xBF")); // no byte-order mark
}

// Long texts are encoded from a table made from ICU, short ones and those with surrogates by ICU itself: the bytes
// are ICU's either way, for every character of the Basic Multilingual Plane and around surrogates, paired or lone.
TEST(TextFile, Gb18030EncodingIsIcusForEveryCharacter)
{
    const auto icu = [](const QString &text) {
        QStringEncoder encoder("GB18030", QStringConverter::Flag::Stateless);
        return QByteArray(encoder.encode(text));
    };
    QString everyCharacter;
    for (char32_t c = 0; c < 0x10000; ++c) {
        if (!QChar::isSurrogate(c))
            everyCharacter.append(QChar(char16_t(c)));
    }
    EXPECT_EQ(encode(everyCharacter), icu(everyCharacter));
    for (qsizetype from = 0; from < everyCharacter.size(); from += 4096) {
        const QString slice = everyCharacter.mid(from, 300);
        ASSERT_EQ(encode(slice), icu(slice)) << "from U+" << QString::number(slice.front().unicode(), 16).toStdString();
    }

    const QString chapter = QString(300, u'字') + u"\r\n"_s;
    const QString cases[] = {
        u"我抓的书"_s,
        chapter,
        chapter + QString::fromUtf8("\xF0\x9F\x98\x80") + chapter, // a pair: U+1F600
        chapter + QChar(0xD800) + chapter,                         // a lone high surrogate
        chapter + QChar(0xDC00),                                   // a lone low one at the end
    };
    for (const QString &text : cases)
        EXPECT_EQ(encode(text), icu(text)) << text.size();
}

// What is written reads back as the same lines, and an existing GBK file reads unchanged.
TEST(TextFile, WriteThenReadRoundTrip)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(u"book.txt"_s);
    const QStringList lines{u"第一章 开始"_s, u""_s, u"正文，含\u00a0空格与😀"_s};
    writeLines(path, lines);
    EXPECT_TRUE(fileBytes(path).endsWith("\r\n"));
    EXPECT_EQ(readLines(path), lines);

    writeLines(path, lines, Encoding::Utf8);
    EXPECT_EQ(readLines(path, Encoding::Utf8), lines);

    writeLines(path, {});
    EXPECT_EQ(fileBytes(path), QByteArray());
    EXPECT_EQ(readLines(path), QStringList());
}

namespace {

// Runs write under a file-size limit of limit bytes, as a full disk would stop it; returns the error's message.
QString messageUnderSizeLimit(rlim_t limit, const std::function<void()> &write)
{
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = limit;
    setrlimit(RLIMIT_FSIZE, &small);
    QString message;
    try {
        write();
    } catch (const qh::Error &error) {
        message = error.message();
    }
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    return message;
}

} // namespace

// A write that fails part-way (the file-size limit standing in for a full disk) leaves the old file byte-identical,
// leaves no temporary behind, and names the file in its error: for files under 16 KiB too, which buffered writers
// only find short at a flush.
TEST(TextFile, FailedWriteKeepsOldFile)
{
    for (const qsizetype size : {qsizetype(8192), qsizetype(12 * 1024), qsizetype(1) << 20}) {
        SCOPED_TRACE(size);
        QTemporaryDir dir;
        ASSERT_TRUE(dir.isValid());
        const QString path = dir.filePath(u"downlist.dat"_s);
        writeFileAtomically(path, "old contents\r\n");

        const QString message = messageUnderSizeLimit(4096, [&] { writeFileAtomically(path, QByteArray(size, 'x')); });

        EXPECT_TRUE(message.contains(u"downlist.dat"_s)) << message.toStdString();
        EXPECT_EQ(fileBytes(path), QByteArray("old contents\r\n"));
        EXPECT_EQ(entriesOf(dir.path()), QStringList{u"downlist.dat"_s});
    }
}

// An append that does not fit leaves the file as it was before the append, never ending in part of it.
TEST(TextFile, FailedAppendCutsBackToTheLastWholeWrite)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(u"book.txt"_s);
    appendToFile(path, "page one\r\n");
    appendToFile(path, "page two\r\n");
    EXPECT_EQ(fileBytes(path), QByteArray("page one\r\npage two\r\n"));

    const QString message = messageUnderSizeLimit(4096, [&] { appendToFile(path, QByteArray(8192, 'x')); });
    EXPECT_TRUE(message.contains(u"book.txt"_s)) << message.toStdString();
    EXPECT_EQ(fileBytes(path), QByteArray("page one\r\npage two\r\n"));

    truncateFile(path, 10);
    EXPECT_EQ(fileBytes(path), QByteArray("page one\r\n"));
}

// A folder that does not exist is an error naming the file, not a silent loss.
TEST(TextFile, WriteIntoMissingFolderFails)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(u"missing/SysCfg.ini"_s);
    EXPECT_THROW(writeLines(path, {u"a"_s}), qh::Error);
    EXPECT_THROW(readLines(path), qh::Error);
}

// A file larger than the caller's cap is refused before it is read.
TEST(TextFile, ReadRefusesOversizedFile)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(u"big.tpe"_s);
    writeFileAtomically(path, QByteArray(1000, 'A'));
    EXPECT_EQ(readFile(path, 1000).size(), 1000);
    EXPECT_THROW(readFile(path, 999), qh::Error);
}
