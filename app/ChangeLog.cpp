#include "app/ChangeLog.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QStringDecoder>

namespace vorlik::app {

QString ChangeLog::missingText()
{
    return QStringLiteral("CHANGELOG.md is not bundled with this build.");
}

QString ChangeLog::loadChangeLog()
{
    return loadChangeLog(resourceFolder(QCoreApplication::applicationDirPath()));
}

QString ChangeLog::loadChangeLog(const std::optional<QString> &folder)
{
    if (!folder)
        return missingText();
    QFile file(QDir(*folder).filePath(QStringLiteral("CHANGELOG.md")));
    if (!file.open(QIODevice::ReadOnly))
        return missingText();
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return missingText();
    QStringDecoder decoder(QStringDecoder::Utf8);
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return missingText();
    return text;
}

std::optional<QString> ChangeLog::resourceFolder(const QString &programFolder)
{
    QDir macos(QDir::cleanPath(programFolder));
    if (macos.dirName() != QLatin1String("MacOS") || !macos.cdUp() || macos.dirName() != QLatin1String("Contents"))
        return std::nullopt;
    QDir contents = macos;
    if (!contents.cdUp() || !contents.dirName().endsWith(QLatin1String(".app")))
        return std::nullopt;
    return macos.filePath(QStringLiteral("Resources"));
}

} // namespace vorlik::app
