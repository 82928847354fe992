// `vorlik update …` and `vorlik ffmpeg install` run as a user would, against the stand-in
// service over HTTPS; `update install` replaces a copy of the project's own bundle, and a copy
// laid out as the package installs it leaves its update to the package manager.
#include "tests/support/DevServer.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QThread>

using vorlik::test::DevServer;

namespace {

struct CliResult {
    int exitCode = -1;
    QString out;
    QString err;
};

QTemporaryDir &updates()
{
    static QTemporaryDir *folder = new QTemporaryDir;
    return *folder;
}

DevServer &server()
{
    // The test's own admin calls go over HTTPS too.
    DevServer::trustTestCA();
    static DevServer *instance = new DevServer(DevServer::tlsArguments() + QStringList{QStringLiteral("--updates"), updates().path()});
    return *instance;
}

QString dataHome() { return qEnvironmentVariable("XDG_DATA_HOME"); }

CliResult run(const QString &program, const QStringList &arguments, const QProcessEnvironment &extra = {})
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const QString &key : extra.keys())
        environment.insert(key, extra.value(key));
    process.setProcessEnvironment(environment);
    const QStringList common{QStringLiteral("--base-url"), server().baseUrl().toString(), QStringLiteral("-testCACertificates"),
                             QStringLiteral(VORLIK_TEST_CA)};
    process.start(program, common + arguments);
    process.waitForFinished(120000);
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardOutput()), QString::fromUtf8(process.readAllStandardError())};
}

CliResult cli(const QStringList &arguments, const QProcessEnvironment &extra = {})
{
    return run(QStringLiteral(VORLIK_CLI_PATH), arguments, extra);
}

QString imageBase()
{
    QUrl url = server().baseUrl();
    url.setPath(QStringLiteral("/tools/desktop"));
    return url.toString();
}

// An image of the project's bundle relabelled as `version`/`build`, with its description.
void publish(const QString &version, int build)
{
    QProcess script;
    script.start(QStringLiteral(VORLIK_MAKE_UPDATE_IMAGE),
                 {QStringLiteral("--version"), version, QStringLiteral("--build"), QString::number(build),
                  QStringLiteral("--notes"), QStringLiteral("Better in every way."), QStringLiteral(VORLIK_APP_BUNDLE),
                  updates().path(), imageBase()});
    ASSERT_TRUE(script.waitForFinished(120000));
    ASSERT_EQ(script.exitCode(), 0) << script.readAllStandardError().toStdString();
}

bool waitFor(const std::function<bool()> &done)
{
    QDeadlineTimer deadline(60000);
    while (!done() && !deadline.hasExpired())
        QThread::msleep(50);
    return done();
}

class CliUpdate : public ::testing::Test {
protected:
    void SetUp() override { server().reset(); }
};

TEST_F(CliUpdate, CheckSaysUpToDateOrWhatIsAvailable)
{
    publish(QStringLiteral("1.2.24"), 27);
    CliResult result = cli({QStringLiteral("update"), QStringLiteral("check")});
    EXPECT_EQ(result.exitCode, 0) << result.err.toStdString();
    EXPECT_EQ(result.out, QStringLiteral("Checking for updates…\nYou're up to date — 1.2.24\n"));

    publish(QStringLiteral("1.2.25"), 28);
    result = cli({QStringLiteral("update"), QStringLiteral("check")});
    EXPECT_EQ(result.exitCode, 0) << result.err.toStdString();
    EXPECT_EQ(result.out, QStringLiteral("Checking for updates…\n1.2.25 (build 28) is available — you have "
                                         "1.2.24\nBetter in every way.\n"));
}

TEST_F(CliUpdate, CheckFailureIsAnError)
{
    server().addFault({{QStringLiteral("path"), QStringLiteral("/tools/desktop/latest.json")},
                       {QStringLiteral("action"), QStringLiteral("status")}, {QStringLiteral("status"), 502}});
    const CliResult result = cli({QStringLiteral("update"), QStringLiteral("check")});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.err, QStringLiteral("✗ The update server is unavailable.\n"));
    EXPECT_EQ(cli({QStringLiteral("update"), QStringLiteral("now")}).exitCode, 2);
}

TEST_F(CliUpdate, DownloadFetchesAndVerifiesTheImage)
{
    publish(QStringLiteral("1.2.25"), 28);
    const CliResult result = run(QStringLiteral(VORLIK_APP_BUNDLE "/Contents/MacOS/vorlik"), {QStringLiteral("update"), QStringLiteral("download")});
    ASSERT_EQ(result.exitCode, 0) << result.err.toStdString();
    const QString marker = QStringLiteral("✓ Downloaded and SHA-256 verified: ");
    const qsizetype at = result.out.indexOf(marker);
    ASSERT_GE(at, 0) << result.out.toStdString();
    const QString path = result.out.mid(at + marker.size()).trimmed();
    EXPECT_TRUE(result.out.contains(QStringLiteral("Downloading update…\n")));
    EXPECT_EQ(vorlik::test::readFile(path), vorlik::test::readFile(updates().filePath(QStringLiteral("VorlikDesktop-1.2.25-28.tar.gz"))));
    QFile::remove(path);
}

TEST_F(CliUpdate, DownloadAndInstallOutsideABundleAreRefusedClearly)
{
    publish(QStringLiteral("1.2.25"), 28);
    for (const QString &action : {QStringLiteral("download"), QStringLiteral("install")}) {
        const CliResult result = cli({QStringLiteral("update"), action});
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_TRUE(result.err.startsWith(QStringLiteral("✗ Vorlik Desktop is not running from its app bundle (")))
            << result.err.toStdString();
    }
    for (const QJsonValue &request : server().requests())
        EXPECT_FALSE(request.toObject().value(QStringLiteral("path")).toString().endsWith(QLatin1String(".tar.gz")));
}

// Every entry below a folder with its size and modification time.
QStringList listing(const QString &folder)
{
    QStringList entries;
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo info(it.next());
        entries << info.filePath() + u' ' + QString::number(info.size()) + u' '
                + QString::number(info.lastModified().toMSecsSinceEpoch());
    }
    entries.sort();
    return entries;
}

TEST_F(CliUpdate, APackagedCopyLeavesTheUpdateToThePackageManagerAndTouchesNothing)
{
    publish(QStringLiteral("1.2.25"), 28);
    // The layout the package puts under /usr: the program in bin/, the package's mark in
    // share/vorlik-desktop/.
    QTemporaryDir prefix;
    const QString program = prefix.filePath(QStringLiteral("bin/vorlik"));
    ASSERT_TRUE(QDir().mkpath(prefix.filePath(QStringLiteral("bin"))));
    ASSERT_TRUE(QFile::copy(QStringLiteral(VORLIK_CLI_PATH), program));
    vorlik::test::writeFile(prefix.filePath(QStringLiteral("share/vorlik-desktop/package-managed")), {});
    const QStringList before = listing(prefix.path());
    const QString note = QStringLiteral("This copy of Vorlik Desktop was installed by the package manager, so its updates come "
                                        "through the package manager: install the newer vorlik-desktop package the way you "
                                        "installed this one.");

    const CliResult checked = run(program, {QStringLiteral("update"), QStringLiteral("check")});
    EXPECT_EQ(checked.exitCode, 0) << checked.err.toStdString();
    EXPECT_EQ(checked.out.toStdString(), (QStringLiteral("Checking for updates…\n1.2.25 (build 28) is available — "
                                                         "you have 1.2.24\nBetter in every way.\n")
                                          + note + u'\n')
                                             .toStdString());
    for (const QString &action : {QStringLiteral("download"), QStringLiteral("install")}) {
        const CliResult refused = run(program, {QStringLiteral("update"), action});
        EXPECT_EQ(refused.exitCode, 1) << action.toStdString();
        EXPECT_EQ(refused.err.toStdString(), (QStringLiteral("✗ ") + note + u'\n').toStdString()) << action.toStdString();
    }
    for (const QJsonValue &request : server().requests())
        EXPECT_FALSE(request.toObject().value(QStringLiteral("path")).toString().endsWith(QLatin1String(".tar.gz")));
    EXPECT_EQ(listing(prefix.path()), before);
}

TEST_F(CliUpdate, InstallReplacesTheRunningBundleAndRelaunchesIt)
{
    publish(QStringLiteral("1.2.25"), 28);
    QTemporaryDir applications;
    const QString bundle = applications.filePath(QStringLiteral("Vorlik Desktop.app"));
    QProcess copy;
    copy.start(QStringLiteral("cp"), {QStringLiteral("-a"), QStringLiteral(VORLIK_APP_BUNDLE), bundle});
    ASSERT_TRUE(copy.waitForFinished(60000));
    const QString log = dataHome() + QStringLiteral("/Vorlik/Updates/install.log");
    QFile::remove(log);

    const CliResult result = run(bundle + QStringLiteral("/Contents/MacOS/vorlik"), {QStringLiteral("update"), QStringLiteral("install")});
    ASSERT_EQ(result.exitCode, 0) << result.out.toStdString() << result.err.toStdString();
    EXPECT_TRUE(result.out.contains(QStringLiteral("Install & Relaunch quits Vorlik, swaps in the new version and reopens it.\n")));
    EXPECT_TRUE(result.out.endsWith(QStringLiteral("✓ Installed Vorlik Desktop 1.2.25 — relaunching\n"))) << result.out.toStdString();

    const QString info = QString::fromUtf8(vorlik::test::readFile(bundle + QStringLiteral("/Contents/Info.plist")));
    EXPECT_TRUE(info.contains(QStringLiteral("<string>1.2.25</string>")));
    EXPECT_TRUE(info.contains(QStringLiteral("<string>28</string>")));
    EXPECT_FALSE(QFileInfo::exists(bundle + QStringLiteral(".vorlik-old")));
    ASSERT_TRUE(waitFor([&] { return QFileInfo::exists(log) && vorlik::test::readFile(log).contains("relaunched"); }));
    EXPECT_TRUE(vorlik::test::readFile(log).contains("install helper: relaunched " + QFile::encodeName(bundle)));
}

TEST_F(CliUpdate, FFmpegInstallPrintsThePhasesAndThePlaceItWentTo)
{
    QUrl fallback = server().baseUrl();
    fallback.setHost(QStringLiteral("localhost"));
    QProcessEnvironment extra;
    extra.insert(QStringLiteral("VORLIK_FFMPEG_FALLBACK_ORIGIN"), fallback.toString());
    server().addFault({{QStringLiteral("path"), QStringLiteral("/tools/ffmpeg/SHA256SUMS")},
                       {QStringLiteral("action"), QStringLiteral("status")}, {QStringLiteral("status"), 404}});

    const CliResult result = cli({QStringLiteral("ffmpeg"), QStringLiteral("install")}, extra);
    ASSERT_EQ(result.exitCode, 0) << result.err.toStdString();
    const QString managed = dataHome() + QStringLiteral("/Vorlik/FFmpegTools/ffmpeg");
    EXPECT_TRUE(result.out.startsWith(QStringLiteral("Vorlik can't convert anything without FFmpeg.")));
    EXPECT_TRUE(result.out.contains(QStringLiteral("Downloading ffmpeg…\n")));
    EXPECT_TRUE(result.out.contains(QStringLiteral("/Vorlik/FFmpegTools…\n")));
    EXPECT_TRUE(result.out.endsWith(QStringLiteral("✓ ffmpeg installed: ") + managed + u'\n')) << result.out.toStdString();
    EXPECT_TRUE(QFileInfo(managed).isExecutable());

    server().reset();
    server().addFault({{QStringLiteral("path"), QStringLiteral("/tools/ffmpeg/ffmpeg.zip")},
                       {QStringLiteral("action"), QStringLiteral("status")}, {QStringLiteral("status"), 404}});
    extra.insert(QStringLiteral("VORLIK_FFMPEG_FALLBACK_ORIGIN"), QStringLiteral("https://localhost:1"));
    const CliResult failed = cli({QStringLiteral("ffmpeg"), QStringLiteral("install")}, extra);
    EXPECT_EQ(failed.exitCode, 1);
    EXPECT_TRUE(failed.err.startsWith(QStringLiteral("✗ Could not install ffmpeg: "))) << failed.err.toStdString();
    EXPECT_TRUE(QFileInfo(managed).isExecutable()); // the earlier one stays
}

} // namespace
