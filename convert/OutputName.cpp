#include "convert/OutputName.h"

#include "platform/FileError.h"

#include <QFile>
#include <QUuid>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vorlik::convert {

namespace {

// folder + "/" + name, without doubling the slash of the root folder.
QString inFolder(const QString &folder, const QString &name)
{
    return folder.endsWith(u'/') ? folder + name : folder + u'/' + name;
}

} // namespace

QString OutputName::stem(const QString &fileName)
{
    const qsizetype dot = fileName.lastIndexOf(u'.');
    return dot > 0 ? fileName.left(dot) : fileName;
}

bool OutputName::entryExists(const QString &path)
{
    struct stat info {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0;
}

QString OutputName::firstFree(const QString &folder, const QString &base, const QString &outputExt,
                              const QSet<QString> &reserved)
{
    const QString prefix = inFolder(folder, base);
    QString candidate = prefix + outputExt;
    for (qint64 n = 1; reserved.contains(candidate) || entryExists(candidate); ++n)
        candidate = prefix + QStringLiteral(" (") + QString::number(n) + u')' + outputExt;
    return candidate;
}

QString OutputName::temporaryBase(const QString &folder, const QString &stem)
{
    return inFolder(folder, QStringLiteral(".vorlik-tmp-") + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper()
                                + u'-' + stem);
}

std::error_code OutputName::moveWithoutReplacing(const QString &from, const QString &to)
{
    const QByteArray source = QFile::encodeName(from);
    const QByteArray target = QFile::encodeName(to);
    if (::renameat2(AT_FDCWD, source.constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE) == 0)
        return {};
    int error = errno;
    if (error != EINVAL && error != ENOSYS && error != ENOTSUP)
        return std::error_code(error, std::generic_category());

    // A file system without the no-replace rename: a hard link refuses a taken name just as well.
    if (::link(source.constData(), target.constData()) == 0) {
        ::unlink(source.constData()); // should this fail, the caller's clean-up removes it
        return {};
    }
    error = errno;
    if (error != EPERM && error != ENOTSUP && error != ENOSYS && error != EMLINK)
        return std::error_code(error, std::generic_category());

    // Nor hard links (FAT-like volumes): look, then rename. Only here can a name taken in the
    // instant between the two be replaced.
    if (entryExists(to))
        return std::error_code(EEXIST, std::generic_category());
    if (::rename(source.constData(), target.constData()) == 0)
        return {};
    return std::error_code(errno, std::generic_category());
}

QString OutputName::moveIntoPlace(const QString &from, const QString &preferred, const QString &folder,
                                  const QString &base, const QString &outputExt, const QSet<QString> &reserved)
{
    QString target = preferred;
    // Each retry follows a name someone else took meanwhile; the bound only stops a file system
    // that keeps answering "exists" for names it then reports free.
    for (int attempt = 0; attempt < 1000; ++attempt) {
        const std::error_code error = moveWithoutReplacing(from, target);
        if (!error)
            return target;
        if (error != std::errc::file_exists)
            throw platform::FileError(QStringLiteral("Could not move the converted file to"), target, error);
        target = firstFree(folder, base, outputExt, reserved);
    }
    throw platform::FileError(QStringLiteral("Could not move the converted file to"), target,
                            std::make_error_code(std::errc::file_exists));
}

} // namespace vorlik::convert
