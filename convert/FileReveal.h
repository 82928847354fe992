#pragma once
// Shows a file in the desktop's file manager: selected in its folder where the file manager
// offers that (org.freedesktop.FileManager1 ShowItems on the session bus), else the folder
// itself is opened.
#include <QObject>
#include <QString>

namespace vorlik::convert {

class FileReveal {
public:
    static inline const QString serviceName = QStringLiteral("org.freedesktop.FileManager1");

    // Returns at once; the file manager answers later. A file manager that is not there, or
    // refuses, leads to the folder being opened instead.
    static void reveal(const QString &path);
    // Opens the folder holding `path` with the desktop's default handler.
    static bool openContainingFolder(const QString &path);
};

} // namespace vorlik::convert
