#include "output/replacementfile.h"

#include "common/error.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace qh::output {

namespace {

QString systemError(int code)
{
    return QString::fromLocal8Bit(std::strerror(code));
}

// 0, or the errno of what failed.
int fsyncPath(const QString &path, int flags)
{
    const int fd = ::open(QFile::encodeName(path).constData(), flags | O_CLOEXEC);
    if (fd < 0)
        return errno;
    const int error = ::fsync(fd) == 0 ? 0 : errno;
    ::close(fd);
    return error;
}

} // namespace

void failSaving(const QString &path, const QString &cause)
{
    throw Error(u"无法保存文件“%1”：%2"_s.arg(QDir::toNativeSeparators(path), cause));
}

ReplacementFile::ReplacementFile(const QString &target)
    : m_target(target),
      m_path(QFileInfo(target).dir().filePath(u"."_s + QFileInfo(target).fileName() + u"."_s +
                                              QString::number(QRandomGenerator::global()->generate64(), 36) +
                                              u".tmp"_s))
{}

ReplacementFile::~ReplacementFile()
{
    if (!m_committed)
        QFile::remove(m_path);
}

void ReplacementFile::commit()
{
    if (const int error = fsyncPath(m_path, O_RDONLY))
        failSaving(m_target, systemError(error));
    const QFileInfo old(m_target);
    if (old.exists())
        QFile::setPermissions(m_path, QFile::permissions(m_target));
    // QFile::rename() refuses to replace a file; rename(2) replaces it atomically.
    if (std::rename(QFile::encodeName(m_path).constData(), QFile::encodeName(m_target).constData()) != 0)
        failSaving(m_target, systemError(errno));
    m_committed = true;
    // The rename lasts only once the folder is on disk too; if that fails the new book is in place anyway.
    (void)fsyncPath(QFileInfo(m_target).absolutePath(), O_RDONLY | O_DIRECTORY);
}

} // namespace qh::output
