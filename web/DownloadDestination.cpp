#include "web/DownloadDestination.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace vorlik::web {

QString DownloadDestination::fileName(const QString &suggestedFileName)
{
    QString name = suggestedFileName.section(QLatin1Char('/'), -1);
    // "." and ".." name folders, never a file of ours.
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
        name = QStringLiteral("download");
    return name;
}

QString DownloadDestination::candidate(const QString &name, int n)
{
    if (n == 0)
        return name;
    // The extension follows the last dot, unless that dot begins or ends the name.
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    const bool hasExtension = dot > 0 && dot < name.size() - 1;
    const QString base = hasExtension ? name.left(dot) : name;
    const QString numbered = base + QStringLiteral(" (") + QString::number(n) + QLatin1Char(')');
    return hasExtension ? numbered + name.mid(dot) : numbered;
}

std::optional<QString> DownloadDestination::reserve(const QString &folder, const QString &suggestedFileName)
{
    if (folder.isEmpty() || !QDir().mkpath(folder))
        return std::nullopt;
    const QString name = fileName(suggestedFileName);
    const QDir dir(folder);
    for (int n = 0; n < 100000; ++n) {
        const QString path = dir.filePath(candidate(name, n));
        const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd >= 0) {
            ::close(fd);
            return path;
        }
        if (errno != EEXIST)
            return std::nullopt;
    }
    return std::nullopt;
}

} // namespace vorlik::web
