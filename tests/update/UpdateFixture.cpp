#include "tests/update/UpdateFixture.h"

#include "diagnostics/DiagnosticsLogger.h"
#include "platform/Settings.h"
#include "tests/support/TestFiles.h"
#include "update/UpdateManager.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <plist/plist.h>

#include <cstdlib>

#include <sys/stat.h>

namespace vorlik::test {

QString updatesFolder()
{
    static QTemporaryDir *folder = new QTemporaryDir(QDir::tempPath() + QStringLiteral("/vorlik-updates-XXXXXX"));
    return folder->path();
}

DevServer &updateServer()
{
    static DevServer *server = [] {
        DevServer::trustTestCA();
        return new DevServer(DevServer::tlsArguments() + QStringList{QStringLiteral("--updates"), updatesFolder()});
    }();
    return *server;
}

QByteArray infoPlist(const BundleInfo &info)
{
    plist_t root = plist_new_dict();
    if (info.identifier)
        plist_dict_set_item(root, "CFBundleIdentifier", plist_new_string(info.identifier->toUtf8().constData()));
    if (info.shortVersion)
        plist_dict_set_item(root, "CFBundleShortVersionString", plist_new_string(info.shortVersion->toUtf8().constData()));
    if (info.build)
        plist_dict_set_item(root, "CFBundleVersion", plist_new_string(info.build->toUtf8().constData()));
    plist_dict_set_item(root, "CFBundleExecutable", plist_new_string(info.executable.toUtf8().constData()));
    plist_dict_set_item(root, "CFBundleName", plist_new_string("Vorlik Desktop"));
    char *bytes = nullptr;
    uint32_t length = 0;
    if (info.binary)
        plist_to_bin(root, &bytes, &length);
    else
        plist_to_xml(root, &bytes, &length);
    QByteArray result(bytes, qsizetype(length));
    std::free(bytes);
    plist_free(root);
    return result;
}

QByteArray toBinaryPlist(const QByteArray &xml)
{
    plist_t root = nullptr;
    plist_from_xml(xml.constData(), uint32_t(xml.size()), &root);
    if (!root)
        return {};
    char *bytes = nullptr;
    uint32_t length = 0;
    plist_to_bin(root, &bytes, &length);
    QByteArray result(bytes, qsizetype(length));
    std::free(bytes);
    plist_free(root);
    return result;
}

QString makeBundle(const QString &folder, const BundleInfo &info, const QByteArray &marker)
{
    const QString bundle = folder + QStringLiteral("/Vorlik Desktop.app");
    writeFile(bundle + QStringLiteral("/Contents/Info.plist"), infoPlist(info));
    const QString program = bundle + QStringLiteral("/Contents/MacOS/") + info.executable;
    writeFile(program, "#!/bin/sh\necho " + marker + "\n");
    ::chmod(QFile::encodeName(program).constData(), 0755);
    writeFile(bundle + QStringLiteral("/Contents/Resources/notes.txt"), "notes of " + marker + "\n");
    return bundle;
}

QMap<QString, QByteArray> snapshot(const QString &folder)
{
    QMap<QString, QByteArray> files;
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QFileInfo info(path);
        const QString key = QDir(folder).relativeFilePath(path);
        if (info.isSymLink())
            files.insert(key, "-> " + QFile::encodeName(info.symLinkTarget()));
        else if (info.isFile())
            files.insert(key, readFile(path));
        else
            files.insert(key + u'/', QByteArray());
    }
    return files;
}

QUrl imageURL(const QString &imageName, const QString &query)
{
    QUrl url = updateServer().baseUrl();
    url.setPath(QStringLiteral("/tools/desktop/") + imageName);
    if (!query.isEmpty())
        url.setQuery(query);
    return url;
}

update::Manifest manifestFor(const QString &imageName, const QString &version, qint64 build, const QString &query)
{
    update::Manifest manifest;
    manifest.version = version;
    manifest.build = build;
    manifest.dmg = imageURL(imageName, query).toString();
    const QString path = updatesFolder() + u'/' + imageName;
    manifest.sha256 = QFileInfo::exists(path) ? update::UpdateManager::sha256(path) : QString(64, u'0');
    manifest.notes = QStringLiteral("Notes of ") + version;
    return manifest;
}

void writeLatest(const QByteArray &json) { writeFile(updatesFolder() + QStringLiteral("/latest.json"), json); }

QStringList takeUpdateLogLines()
{
    static bool started = [] {
        platform::Settings::standard().setValue(QStringLiteral("vorlikDiag"), true);
        diagnostics::DiagnosticsLogger::shared().startIfEnabled();
        return true;
    }();
    static qsizetype seen = 0;
    Q_UNUSED(started);
    diagnostics::DiagnosticsLogger::shared().drain();
    const QStringList all = diagnostics::DiagnosticsLogger::shared().bufferSnapshot();
    QStringList lines;
    for (qsizetype i = seen; i < all.size(); ++i) {
        const qsizetype at = all.at(i).indexOf(QStringLiteral(" [update] "));
        if (at >= 0)
            lines << all.at(i).mid(at + 10).trimmed();
    }
    seen = all.size();
    return lines;
}

bool waitUntil(const std::function<bool()> &done, int limitMilliseconds)
{
    QDeadlineTimer deadline(limitMilliseconds);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        QThread::msleep(5);
    }
    return true;
}

QStringList tempEntries(const QString &prefix)
{
    return QDir(QDir::tempPath()).entryList({prefix + u'*'}, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
}

void PrivateTemp::SetUp()
{
    // The shared server and its folders are made first, in the real temporary folder, so
    // that they outlive this test's.
    updateServer().reset();
    m_savedTmp = qgetenv("TMPDIR");
    qputenv("TMPDIR", QFile::encodeName(m_temp.path()));
}

void PrivateTemp::TearDown() { qputenv("TMPDIR", m_savedTmp); }

} // namespace vorlik::test
