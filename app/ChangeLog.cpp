#include "app/ChangeLog.h"

#include "update/Installation.h"

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
    return loadChangeLog(resourceFolder());
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
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return missingText();
    return text;
}

std::optional<QString> ChangeLog::resourceFolder()
{
    const QString folder = update::Installation::current().resourceFolder;
    if (folder.isEmpty())
        return std::nullopt;
    return folder;
}

} // namespace vorlik::app
