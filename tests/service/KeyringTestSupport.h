#pragma once
// Shared by the keyring tests: looking for a secret in every file under a folder.
#include <QDirIterator>
#include <QFile>
#include <QString>
#include <QStringList>

namespace vorlik::test {

// The files under `root` (hidden ones included) whose bytes contain `secret` as UTF-8.
inline QStringList filesHolding(const QString &root, const QString &secret)
{
    const QByteArray needle = secret.toUtf8();
    QStringList found;
    QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::System | QDir::NoSymLinks, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        QFile file(it.next());
        if (file.open(QIODevice::ReadOnly) && file.readAll().contains(needle))
            found.append(file.fileName());
    }
    return found;
}

} // namespace vorlik::test
