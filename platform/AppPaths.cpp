#include "platform/AppPaths.h"

#include <QDir>
#include <QStandardPaths>

namespace vorlik::platform {

QString AppPaths::applicationSupport()
{
    // GenericDataLocation honours XDG_DATA_HOME and falls back to ~/.local/share.
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    return QDir(base).filePath(QStringLiteral("Vorlik"));
}

QString AppPaths::ffmpegTools() { return QDir(applicationSupport()).filePath(QStringLiteral("FFmpegTools")); }
QString AppPaths::updates() { return QDir(applicationSupport()).filePath(QStringLiteral("Updates")); }
QString AppPaths::logs() { return QDir(applicationSupport()).filePath(QStringLiteral("Logs")); }

QString AppPaths::downloads()
{
    const QString path = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    return path.isEmpty() ? QDir::home().filePath(QStringLiteral("Downloads")) : path;
}

QString AppPaths::temporary()
{
    const QString canonical = QDir::tempPath();
    if (!canonical.isEmpty())
        return canonical;
    const QString named = qEnvironmentVariable("TMPDIR");
    return named.isEmpty() ? QStringLiteral("/tmp") : QDir::cleanPath(named);
}

} // namespace vorlik::platform
