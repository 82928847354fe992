#include "update/RunningBundle.h"

#include "update/PropertyList.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace vorlik::update {

std::optional<QString> RunningBundle::containing(const QString &program)
{
    const QString path = QDir::cleanPath(QFileInfo(program).absoluteFilePath());
    const QStringList parts = path.split(u'/');
    // ["", ..., "Name.app", "Contents", "MacOS", "program"]
    if (parts.size() < 5)
        return std::nullopt;
    const qsizetype n = parts.size();
    if (parts.at(n - 2) != QLatin1String("MacOS") || parts.at(n - 3) != QLatin1String("Contents")
        || !parts.at(n - 4).endsWith(QLatin1String(".app")) || parts.at(n - 4).size() <= 4)
        return std::nullopt;
    return parts.mid(0, n - 3).join(u'/');
}

std::optional<QString> RunningBundle::current()
{
    return containing(QCoreApplication::applicationFilePath());
}

QString RunningBundle::executableName(const QString &bundle)
{
    QFile file(bundle + QStringLiteral("/Contents/Info.plist"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const std::optional<PropertyList> info = PropertyList::parse(file.readAll());
    if (!info)
        return {};
    const QString name = info->root().value("CFBundleExecutable").string().value_or(QString());
    if (name.isEmpty() || name.contains(u'/') || name == QLatin1String(".") || name == QLatin1String(".."))
        return {};
    return name;
}

} // namespace vorlik::update
