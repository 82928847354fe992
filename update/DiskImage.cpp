#include "update/DiskImage.h"

#include "platform/AppPaths.h"
#include "platform/ArchiveExtractor.h"
#include "platform/Failure.h"
#include "update/FileTree.h"

#include <QDir>
#include <QFile>
#include <QUuid>

namespace vorlik::update {

std::optional<QString> DiskImage::attach(const QString &imagePath, QString *problem)
{
    const QString folder = platform::AppPaths::temporary() + QStringLiteral("/vorlik-image-")
        + QUuid::createUuid().toString(QUuid::WithoutBraces);
    if (!QDir().mkdir(folder)) {
        if (problem)
            *problem = QStringLiteral("cannot create ") + folder;
        return std::nullopt;
    }
    // Private to this user while it exists.
    QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    try {
        platform::ArchiveExtractor::extract(imagePath, folder);
    } catch (const std::exception &error) {
        if (problem)
            *problem = describe(error);
        FileTree::remove(folder);
        return std::nullopt;
    }
    // Read-only like a mounted image: nothing that stages from it can change it. The folder
    // itself stays writable by its owner so that detaching can remove it.
    for (const QString &entry : QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot))
        FileTree::makeReadOnly(folder + u'/' + entry);
    return folder;
}

bool DiskImage::detach(const QString &mountPoint)
{
    return FileTree::remove(mountPoint);
}

} // namespace vorlik::update
