#include "tests/update/UpdateFixture.h"

#include "tests/support/LogLines.h"
#include "tests/support/TestFiles.h"

#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <plist/plist.h>

#include <cstdlib>

#include <sys/stat.h>

namespace vorlik::test {

namespace {

// The property list's bytes, XML or binary; the list is freed.
QByteArray written(plist_t root, bool binary)
{
    char *bytes = nullptr;
    uint32_t length = 0;
    (binary ? plist_to_bin : plist_to_xml)(root, &bytes, &length);
    QByteArray result(bytes, qsizetype(length));
    std::free(bytes);
    plist_free(root);
    return result;
}

} // namespace

QByteArray infoPlist(const BundleInfo &info)
{
    plist_t root = plist_new_dict();
    const std::pair<const char *, std::optional<QString>> members[]{{"CFBundleIdentifier", info.identifier},
                                                                   {"CFBundleShortVersionString", info.shortVersion},
                                                                   {"CFBundleVersion", info.build},
                                                                   {"CFBundleExecutable", info.executable},
                                                                   {"CFBundleName", QStringLiteral("Vorlik Desktop")}};
    for (const auto &[key, value] : members)
        if (value)
            plist_dict_set_item(root, key, plist_new_string(value->toUtf8().constData()));
    return written(root, info.binary);
}

QByteArray toBinaryPlist(const QByteArray &xml)
{
    plist_t root = nullptr;
    plist_from_xml(xml.constData(), uint32_t(xml.size()), &root);
    return root ? written(root, true) : QByteArray();
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

std::vector<ArchiveEntry> imageEntries(const BundleInfo &info, std::vector<ArchiveEntry> extra, const QByteArray &top)
{
    std::vector<ArchiveEntry> entries{ArchiveEntry::folder(top + "/Contents/MacOS"),
                                      ArchiveEntry::file(top + "/Contents/Info.plist", infoPlist(info)),
                                      ArchiveEntry::file(top + "/Contents/MacOS/vorlik", "#!/bin/sh\necho new\n", 0755),
                                      ArchiveEntry::file(top + "/Contents/Resources/notes.txt", "notes of new\n"),
                                      ArchiveEntry::symlink(top + "/Contents/Resources/current", "notes.txt")};
    entries.insert(entries.end(), extra.begin(), extra.end());
    return entries;
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

update::Manifest release(const QString &version, qint64 build, const std::optional<QString> &minMacos)
{
    return {version, build, {}, {}, std::nullopt, minMacos};
}

update::Manifest manifestFor(const QString &imageName, const QString &query)
{
    update::Manifest manifest = release();
    manifest.dmg = updateURL(imageName, query).toString();
    const QString path = updatesFolder() + u'/' + imageName;
    manifest.sha256 = QFileInfo::exists(path) ? update::UpdateManager::sha256(path) : QString(64, u'0');
    manifest.notes = QStringLiteral("Notes of 1.2.25");
    return manifest;
}

void writeLatest(const QByteArray &json) { writeFile(updatesFolder() + QStringLiteral("/latest.json"), json); }

QStringList takeUpdateLogLines()
{
    static std::optional<LogLines> since = [] {
        platform::Settings::standard().setValue(QStringLiteral("vorlikDiag"), true);
        diagnostics::DiagnosticsLogger::shared().startIfEnabled();
        return std::optional<LogLines>();
    }();
    diagnostics::DiagnosticsLogger::shared().drain();
    const QStringList lines = since ? since->lines() : QStringList();
    since.emplace(QStringLiteral("update"));
    return lines;
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

void ManagerTest::SetUp()
{
    PrivateTemp::SetUp();
    updateServer().useAsService();
    for (const char *key : {"updateManifestURL", "lastUpdateCheckAttempt", "lastUpdateCheckSuccess"})
        platform::Settings::standard().remove(QString::fromLatin1(key));
    takeUpdateLogLines();
    m_manager.setCurrentAppForTesting(QDir::tempPath() + QStringLiteral("/Vorlik Desktop.app"));
    QObject::connect(&m_manager, &update::UpdateManager::phaseChanged, &m_manager, [this] { m_phases << m_manager.phase(); });
}

} // namespace vorlik::test
