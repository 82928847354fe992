#include "update/Installation.h"

#include "update/RunningBundle.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <unistd.h>

namespace vorlik::update {

Installation Installation::forBundle(const QString &bundle)
{
    Installation installation;
    installation.kind = Kind::bundle;
    installation.bundle = bundle;
    installation.resourceFolder = bundle + QStringLiteral("/Contents/Resources");
    return installation;
}

Installation Installation::of(const QString &program)
{
    if (const std::optional<QString> bundle = RunningBundle::containing(program))
        return forBundle(*bundle);

    // The install target puts the programs in <prefix>/bin and their data in
    // <prefix>/share/vorlik-desktop (app/desktop/CMakeLists.txt).
    const QString folder = QFileInfo(program).absolutePath();
    const QString data = QDir::cleanPath(folder + QStringLiteral("/../share/vorlik-desktop"));
    const bool marked = QFileInfo::exists(data + QStringLiteral("/package-managed"));
    const bool writable = ::access(QFile::encodeName(folder).constData(), W_OK) == 0;
    Installation installation;
    if (marked || !writable) {
        installation.kind = Kind::packaged;
        installation.resourceFolder = data;
    }
    return installation;
}

Installation Installation::current() { return of(QCoreApplication::applicationFilePath()); }

} // namespace vorlik::update
