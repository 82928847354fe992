// The ffmpeg install sheet's logic against the stand-in service over real HTTPS on loopback:
// the service's download with its checksum, the fallback host (reached as "localhost", so the
// chain really changes hosts), every failure text, and hostile archives.
#include "ffmpeg/FFmpegInstaller.h"
#include "ffmpeg/FFmpegLocator.h"
#include "ffmpeg/InstallError.h"
#include "platform/ServiceConfig.h"
#include "platform/Settings.h"
#include "tests/support/DevServer.h"
#include "tests/support/TestArchive.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonObject>
#include <QSysInfo>
#include <QTemporaryDir>

#include <sys/stat.h>

using vorlik::ffmpeg::FFmpegInstaller;
using vorlik::ffmpeg::FFmpegLocator;
using vorlik::ffmpeg::InstallError;
using vorlik::ffmpeg::InstallPhase;
using vorlik::platform::ServiceConfig;
using vorlik::test::ArchiveEntry;
using vorlik::test::ArchiveFormat;
using vorlik::test::DevServer;

namespace {

const QString primaryZip = QStringLiteral("/tools/ffmpeg/ffmpeg.zip");
const QString primarySums = QStringLiteral("/tools/ffmpeg/SHA256SUMS");
const QString wrongDigest = QStringLiteral("%1  ffmpeg.zip\n").arg(QString(64, u'0'));

QString fallbackZip() { return ServiceConfig::ffmpegFallbackPath(QSysInfo::currentCpuArchitecture()); }
QString fallbackSums() { return fallbackZip() + QStringLiteral(".sha256"); }

QString fakeProgram(const QString &path, const QByteArray &body)
{
    vorlik::test::writeFile(path, "#!/bin/sh\n" + body);
    ::chmod(QFile::encodeName(path).constData(), 0755);
    return path;
}

// What one install did, as the sheet would have seen it.
struct Observed {
    QList<InstallPhase> phases;
    QStringList texts;
    QStringList installedSignals;
    int dismissals = 0;
};

class FFmpegInstallerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { DevServer::trustTestCA(); }

    void SetUp() override
    {
        server().reset();
        server().useAsService();
        QUrl fallback = server().baseUrl();
        fallback.setHost(QStringLiteral("localhost"));
        ServiceConfig::setFFmpegFallbackOriginForTesting(fallback);
        QDir(FFmpegLocator::toolsDir()).removeRecursively();
        m_savedTmp = qgetenv("TMPDIR");
        qputenv("TMPDIR", QFile::encodeName(m_temp.path()));
    }
    void TearDown() override
    {
        qputenv("TMPDIR", m_savedTmp);
        ServiceConfig::setFFmpegFallbackOriginForTesting({});
    }

    static DevServer &server() { return DevServer::sharedTls(); }

    // A dropped connection hits every request to the path: Qt sends a request again when a
    // connection closes before any answer.
    void fault(const QString &path, const QString &action, int status = 500, const QString &body = {}) const
    {
        QJsonObject spec{{QStringLiteral("method"), QStringLiteral("GET")},
                         {QStringLiteral("path"), path},
                         {QStringLiteral("action"), action},
                         {QStringLiteral("status"), status},
                         {QStringLiteral("count"), action == QLatin1String("close") ? -1 : 1}};
        if (!body.isEmpty())
            spec.insert(QStringLiteral("body"), body);
        server().addFault(spec);
    }

    Observed install(FFmpegInstaller &installer)
    {
        Observed seen;
        QObject::connect(&installer, &FFmpegInstaller::phaseChanged, &installer, [&] {
            seen.phases << installer.phase();
            seen.texts << installer.statusText();
        });
        QObject::connect(&installer, &FFmpegInstaller::installed, &installer,
                         [&](const QString &program) { seen.installedSignals << program; });
        QObject::connect(&installer, &FFmpegInstaller::dismissRequested, &installer, [&] { ++seen.dismissals; });
        vorlik::test::run(installer.installRecommended());
        return seen;
    }

    QStringList requestedPaths() const
    {
        QStringList paths;
        for (const QJsonValue &entry : server().requests())
            paths << entry.toObject().value(QStringLiteral("path")).toString();
        return paths;
    }

    QStringList leftoversInTemp() const
    {
        return QDir(m_temp.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    }

    QTemporaryDir m_temp;
    QByteArray m_savedTmp;
};

TEST_F(FFmpegInstallerTest, InstallsTheServicesBuildFromThePrimarySource)
{
    FFmpegInstaller installer;
    const Observed seen = install(installer);

    ASSERT_EQ(installer.installedProgram(), FFmpegLocator::managedCopy()) << installer.phase().message.toStdString();
    EXPECT_EQ(seen.installedSignals, QStringList{FFmpegLocator::managedCopy()});
    EXPECT_EQ(seen.dismissals, 1);
    EXPECT_EQ(seen.phases, (QList<InstallPhase>{InstallPhase::downloading(), InstallPhase::extracting()}));
    EXPECT_EQ(seen.texts.value(0), QStringLiteral("Downloading ffmpeg…"));
    // The folder is shown as the user's home would write it.
    EXPECT_EQ(seen.texts.value(1), QStringLiteral("Installing into ~") + FFmpegLocator::toolsDir().mid(QDir::homePath().size())
                                       + QStringLiteral("…"));
    EXPECT_EQ(requestedPaths(), (QStringList{primaryZip, primarySums}));
    EXPECT_FALSE(installer.isBusy());

    // The installed program is the machine's ffmpeg, working, from the managed folder.
    const std::optional<QString> version = vorlik::test::run(FFmpegLocator::version(FFmpegLocator::managedCopy()));
    ASSERT_TRUE(version.has_value());
    EXPECT_TRUE(version->startsWith(QStringLiteral("ffmpeg version"))) << version->toStdString();
    EXPECT_EQ(leftoversInTemp(), QStringList());
}

TEST_F(FFmpegInstallerTest, APrimaryChecksumMismatchFallsBackToTheOtherHost)
{
    fault(primarySums, QStringLiteral("status"), 200, wrongDigest);
    FFmpegInstaller installer;
    const Observed seen = install(installer);

    ASSERT_EQ(installer.installedProgram(), FFmpegLocator::managedCopy()) << installer.phase().message.toStdString();
    EXPECT_EQ(requestedPaths(), (QStringList{primaryZip, primarySums, fallbackZip(), fallbackSums()}));
    // The second pair went to the fallback host by its own name.
    const QJsonArray log = server().requests();
    const QString host = log.at(2).toObject().value(QStringLiteral("headers")).toObject().value(QStringLiteral("Host")).toString();
    EXPECT_TRUE(host.startsWith(QStringLiteral("localhost"))) << host.toStdString();
    // Nothing was unpacked from the rejected download: the phase never reached extracting
    // before the fallback started downloading.
    EXPECT_EQ(seen.phases, (QList<InstallPhase>{InstallPhase::downloading(), InstallPhase::extracting()}));
    EXPECT_EQ(leftoversInTemp(), QStringList());
}

TEST_F(FFmpegInstallerTest, EveryPrimaryFailureMovesOnToTheFallback)
{
    struct Case {
        QString path;
        QString action;
        int status;
    };
    const QList<Case> cases{{primaryZip, QStringLiteral("status"), 404},
                            {primaryZip, QStringLiteral("status"), 503},
                            {primarySums, QStringLiteral("status"), 404},
                            {primaryZip, QStringLiteral("close"), 500}};
    for (const Case &item : cases) {
        SCOPED_TRACE(item.path.toStdString() + " " + item.action.toStdString() + " " + std::to_string(item.status));
        QDir(FFmpegLocator::toolsDir()).removeRecursively();
        server().reset();
        fault(item.path, item.action, item.status);
        FFmpegInstaller installer;
        install(installer);
        EXPECT_EQ(installer.installedProgram(), FFmpegLocator::managedCopy()) << installer.phase().message.toStdString();
        EXPECT_TRUE(requestedPaths().contains(fallbackZip())) << requestedPaths().join(u' ').toStdString();
    }
}

TEST_F(FFmpegInstallerTest, AFallbackChecksumMismatchEndsTheInstallAndKeepsTheEarlierProgram)
{
    const QString earlier = fakeProgram(FFmpegLocator::managedCopy(), "echo 'ffmpeg version earlier'\n");
    const QByteArray earlierBytes = vorlik::test::readFile(earlier);
    fault(primaryZip, QStringLiteral("status"), 404);
    fault(fallbackSums(), QStringLiteral("status"), 200, wrongDigest);

    FFmpegInstaller installer;
    const Observed seen = install(installer);

    EXPECT_EQ(installer.phase(),
              InstallPhase::failed(QStringLiteral("Could not install ffmpeg: Downloaded ffmpeg failed its SHA-256 check.")));
    EXPECT_EQ(installer.statusText(), installer.phase().message);
    EXPECT_TRUE(installer.installedProgram().isEmpty());
    EXPECT_TRUE(seen.installedSignals.isEmpty());
    EXPECT_EQ(seen.dismissals, 0);
    EXPECT_EQ(vorlik::test::readFile(earlier), earlierBytes);
    EXPECT_EQ(QDir(FFmpegLocator::toolsDir()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
              QStringList{QStringLiteral("ffmpeg")});
    EXPECT_EQ(leftoversInTemp(), QStringList());
}

TEST_F(FFmpegInstallerTest, DownloadFailuresNameTheFileThatWasNotThere)
{
    struct Case {
        QString fallbackPath;
        QString expected;
    };
    const QList<Case> cases{{fallbackZip(), QStringLiteral("Could not install ffmpeg: Download failed (ffmpeg.zip).")},
                            {fallbackSums(), QStringLiteral("Could not install ffmpeg: Download failed (ffmpeg.zip.sha256).")}};
    for (const Case &item : cases) {
        server().reset();
        fault(primaryZip, QStringLiteral("status"), 404);
        fault(item.fallbackPath, QStringLiteral("status"), 404);
        FFmpegInstaller installer;
        install(installer);
        EXPECT_EQ(installer.phase(), InstallPhase::failed(item.expected));
        EXPECT_FALSE(QFileInfo::exists(FFmpegLocator::managedCopy()));
    }
}

TEST_F(FFmpegInstallerTest, ANetworkFailureIsTheNetworksOwnText)
{
    // Nothing listens on port 1 of either host.
    vorlik::platform::Settings::standard().setValue(QStringLiteral("baseURL"), QStringLiteral("https://127.0.0.1:1"));
    ServiceConfig::setFFmpegFallbackOriginForTesting(QUrl(QStringLiteral("https://localhost:1")));
    FFmpegInstaller installer;
    install(installer);
    EXPECT_EQ(installer.phase().kind, InstallPhase::Kind::failed);
    EXPECT_TRUE(installer.phase().message.startsWith(QStringLiteral("Could not install ffmpeg: Connection refused")))
        << installer.phase().message.toStdString();
}

TEST_F(FFmpegInstallerTest, AShortBodyIsAFailedDownload)
{
    // Over plain HTTP Qt does not always call a body that stops early an error; the announced
    // length catches it then.
    QUrl url = DevServer::shared().baseUrl();
    url.setPath(primaryZip);
    url.setQuery(QStringLiteral("truncate=1000"));
    try {
        vorlik::test::run(FFmpegInstaller::download(url));
        ADD_FAILURE() << "a short body passed";
    } catch (const vorlik::Failure &error) {
        EXPECT_TRUE(error.description().startsWith(QStringLiteral("The connection closed after 1000 of "))
                    || error.description() == QStringLiteral("Connection closed"))
            << error.description().toStdString();
    }
}

TEST_F(FFmpegInstallerTest, OnlyOneInstallRunsAtATime)
{
    server().addFault({{QStringLiteral("path"), primaryZip}, {QStringLiteral("action"), QStringLiteral("delay")},
                       {QStringLiteral("delay_ms"), 300}});
    FFmpegInstaller installer;
    QCoro::Task<void> first = installer.installRecommended();
    EXPECT_TRUE(installer.isBusy());
    vorlik::test::run(installer.installRecommended()); // returns at once
    EXPECT_TRUE(installer.isBusy());
    vorlik::test::run(std::move(first));
    EXPECT_FALSE(installer.isBusy());
    EXPECT_EQ(requestedPaths().count(primaryZip), 1);
}

// --- The unpacking step on its own, with archives made here ---

class ExtractAndAdopt : public FFmpegInstallerTest {
protected:
    // The error an archive ends in, or none when it was adopted.
    std::optional<InstallError> outcome(const QByteArray &zip)
    {
        try {
            vorlik::test::run(FFmpegInstaller::extractAndAdopt(zip));
        } catch (const InstallError &error) {
            return error;
        }
        return std::nullopt;
    }
    static QByteArray realFFmpeg() { return vorlik::test::readFile(QStringLiteral("/usr/bin/ffmpeg")); }
};

TEST_F(ExtractAndAdopt, AnArchiveWithoutFFmpegAtTheTopEndsInCode4AndLeavesNothing)
{
    const std::pair<ArchiveFormat, std::vector<ArchiveEntry>> archives[] = {
        {ArchiveFormat::zip, {ArchiveEntry::folder("bin"), ArchiveEntry::file("bin/ffmpeg", realFFmpeg(), 0755)}},
        // Found by fuzzing: such a name has no QString, so QDir::removeRecursively left the file
        // and with it the whole working folder in the temporary folder.
        {ArchiveFormat::tarGzip,
         {ArchiveEntry::file("\xff\xfe\xff-not-utf8", "x"), ArchiveEntry::folder("d\xe9j\xe0"), ArchiveEntry::file("d\xe9j\xe0/\xff", "y")}},
    };
    for (const auto &[format, entries] : archives) {
        const auto error = outcome(vorlik::test::archiveBytes(format, entries));
        ASSERT_TRUE(error.has_value());
        EXPECT_EQ(error->code(), 4);
        EXPECT_EQ(error->description(), QStringLiteral("The archive did not contain an ffmpeg binary."));
        EXPECT_FALSE(QFileInfo::exists(FFmpegLocator::managedCopy()));
        EXPECT_EQ(leftoversInTemp(), QStringList());
    }
}

TEST_F(ExtractAndAdopt, HostileArchivesAreRefusedWithoutTouchingAnythingOutside)
{
    const QString earlier = fakeProgram(FFmpegLocator::managedCopy(), "echo 'ffmpeg version earlier'\n");
    const QByteArray earlierBytes = vorlik::test::readFile(earlier);
    const QList<std::vector<ArchiveEntry>> archives{
        {ArchiveEntry::file("ffmpeg", realFFmpeg(), 0755), ArchiveEntry::file("../../evil", "x")},
        {ArchiveEntry::file("../ffmpeg", realFFmpeg(), 0755)},
        {ArchiveEntry::symlink("ffmpeg", "/usr/bin/ffmpeg")},
        {ArchiveEntry::symlink("ffmpeg", "../../../usr/bin/ffmpeg")},
        {ArchiveEntry::file("/tmp/evil-from-ffmpeg-test", "x")},
    };
    for (const auto &entries : archives) {
        const auto error = outcome(vorlik::test::archiveBytes(ArchiveFormat::zip, entries));
        ASSERT_TRUE(error.has_value());
        EXPECT_EQ(error->code(), 3);
        EXPECT_EQ(error->description(), QStringLiteral("Could not extract the ffmpeg archive."));
    }
    const auto tarError = outcome(vorlik::test::archiveBytes(
        ArchiveFormat::tarGzip, {ArchiveEntry::file("x", "y"), ArchiveEntry::hardlink("ffmpeg", "/usr/bin/ffmpeg")}));
    ASSERT_TRUE(tarError.has_value());
    EXPECT_EQ(tarError->code(), 3);
    const auto garbage = outcome("PK\x03\x04 this is no zip");
    ASSERT_TRUE(garbage.has_value());
    EXPECT_EQ(garbage->code(), 3);

    EXPECT_EQ(vorlik::test::readFile(earlier), earlierBytes);
    EXPECT_EQ(leftoversInTemp(), QStringList());
    EXPECT_FALSE(QFileInfo::exists(QDir(m_temp.path()).filePath(QStringLiteral("../evil"))));
    EXPECT_FALSE(QFileInfo::exists(QStringLiteral("/tmp/evil-from-ffmpeg-test")));
}

} // namespace
