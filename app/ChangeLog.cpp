#include "app/ChangeLog.h"

#include "update/RunningBundle.h"

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
    const std::optional<QString> bundle = update::RunningBundle::current();
    if (!bundle)
        return std::nullopt;
    return *bundle + QStringLiteral("/Contents/Resources");
}

} // namespace vorlik::app
