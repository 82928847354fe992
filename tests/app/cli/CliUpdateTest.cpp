#include "tests/support/ProgramRun.h"
#include "tests/support/TestFiles.h"
#include "tests/support/UpdateServer.h"

#include <gtest/gtest.h>

#include <QFileInfo>
#include <QTest>

using namespace vorlik::test;

namespace {

DevServer &server() { return updateServer(); }

QString dataHome() { return qEnvironmentVariable("XDG_DATA_HOME"); }

ProgramRun run(const QString &program, const QStringList &arguments, const ProgramSetting &setting = {})
{
    const QStringList common{"--base-url", server().baseUrl().toString(), "-testCACertificates", VORLIK_TEST_CA};
    return runProgram(program, common + arguments, setting);
}

ProgramRun cli(const QStringList &arguments, const ProgramSetting &setting = {})
{
    return run(QStringLiteral(VORLIK_CLI_PATH), arguments, setting);
}

// Publishes an image of the project's bundle relabelled as `version`/`build`, with its
// description, unless it is the one published last (making one takes a while).
void publish(const QString &version, int build)
{
    static QString published;
    if (published == version)
        return;
    const ProgramRun made = runProgram(VORLIK_MAKE_UPDATE_IMAGE, {"--version", version, "--build", QString::number(build), "--notes",
                                                                  "Better in every way.", VORLIK_APP_BUNDLE, updatesFolder(),
                                                                  updateURL().toString()});
    ASSERT_EQ(made.status, 0) << made.err.toStdString();
    published = version;
}

// Every entry below a folder with its size and modification time.
QString listing(const QString &folder) { return runProgram("ls", {"-lRA", "--full-time", folder}).out; }

class CliUpdate : public ::testing::Test {
protected:
    void SetUp() override { server().reset(); }
};

TEST_F(CliUpdate, CheckSaysUpToDateOrWhatIsAvailableOrThatItFailed)
{
    const std::tuple<const char *, int, int, QString> cases[]{
        {"1.2.24", 27, 0, "Checking for updates…\nYou're up to date — 1.2.24\n"},
        {"1.2.25", 28, 0, "Checking for updates…\n1.2.25 (build 28) is available — you have 1.2.24\nBetter in every way.\n"},
        {"1.2.25", 28, 1, "✗ The update server is unavailable.\n"}}; // the service answers 502
    for (const auto &[version, build, status, said] : cases) {
        publish(version, build);
        if (status)
            server().addFault({{"path", "/tools/desktop/latest.json"}, {"action", "status"}, {"status", 502}});
        const ProgramRun result = cli({"update", "check"});
        EXPECT_EQ(result.status, status) << result.err.toStdString();
        EXPECT_EQ(status ? result.err : result.out, said);
    }
}

// A copy run from a build folder, and one laid out as the package puts it under /usr (the
// program in bin/, the package's mark in share/vorlik-desktop/), neither download nor install,
// and touch nothing; a bundle downloads and verifies the image.
TEST_F(CliUpdate, OnlyABundleDownloadsOrInstalls)
{
    publish("1.2.25", 28);
    QTemporaryDir prefix;
    const QString packaged = prefix.filePath("bin/vorlik");
    ASSERT_TRUE(QDir().mkpath(prefix.filePath("bin")));
    ASSERT_TRUE(QFile::copy(VORLIK_CLI_PATH, packaged));
    writeFile(prefix.filePath("share/vorlik-desktop/package-managed"), {});
    const QString before = listing(prefix.path());
    const QString note = "This copy of Vorlik Desktop was installed by the package manager, so its updates come through the "
                         "package manager: install the newer vorlik-desktop package the way you installed this one.\n";

    const ProgramRun checked = run(packaged, {"update", "check"});
    EXPECT_EQ(checked.status, 0) << checked.err.toStdString();
    EXPECT_EQ(checked.out, "Checking for updates…\n1.2.25 (build 28) is available — you have 1.2.24\nBetter in every way.\n" + note);
    for (const char *action : {"download", "install"}) {
        const ProgramRun loose = cli({"update", action});
        EXPECT_EQ(loose.status, 1) << action;
        EXPECT_TRUE(loose.err.startsWith("✗ Vorlik Desktop is not running from its app bundle (")) << loose.err.toStdString();
        const ProgramRun refused = run(packaged, {"update", action});
        EXPECT_EQ(refused.status, 1) << action;
        EXPECT_EQ(refused.err, "✗ " + note) << action;
    }
    for (const QJsonValue &request : server().requests())
        EXPECT_FALSE(request["path"].toString().endsWith(".tar.gz")) << "no image is fetched";
    EXPECT_EQ(listing(prefix.path()), before);

    const ProgramRun downloaded = run(VORLIK_APP_BUNDLE "/Contents/MacOS/vorlik", {"update", "download"});
    ASSERT_EQ(downloaded.status, 0) << downloaded.err.toStdString();
    EXPECT_TRUE(downloaded.out.contains("Downloading update…\n"));
    const QString marker = "✓ Downloaded and SHA-256 verified: ";
    const qsizetype at = downloaded.out.indexOf(marker);
    ASSERT_GE(at, 0) << downloaded.out.toStdString();
    const QString image = downloaded.out.mid(at + marker.size()).trimmed();
    EXPECT_EQ(readFile(image), readFile(updatesFolder() + "/VorlikDesktop-1.2.25-28.tar.gz"));
    QFile::remove(image);
}

TEST_F(CliUpdate, InstallReplacesTheRunningBundleAndRelaunchesIt)
{
    publish("1.2.25", 28);
    QTemporaryDir applications;
    const QString bundle = applications.filePath("Vorlik Desktop.app");
    ASSERT_EQ(runProgram("cp", {"-a", VORLIK_APP_BUNDLE, bundle}).status, 0);
    const QString log = dataHome() + "/Vorlik/Updates/install.log";
    QFile::remove(log);

    const ProgramRun result = run(bundle + "/Contents/MacOS/vorlik", {"update", "install"});
    ASSERT_EQ(result.status, 0) << result.out.toStdString() << result.err.toStdString();
    EXPECT_TRUE(result.out.contains("Install & Relaunch quits Vorlik, swaps in the new version and reopens it.\n"));
    EXPECT_TRUE(result.out.endsWith("✓ Installed Vorlik Desktop 1.2.25 — relaunching\n")) << result.out.toStdString();
    const QByteArray info = readFile(bundle + "/Contents/Info.plist");
    EXPECT_TRUE(info.contains("<string>1.2.25</string>") && info.contains("<string>28</string>"));
    EXPECT_FALSE(QFileInfo::exists(bundle + ".vorlik-old"));
    // The helper writes its log after this process has ended.
    const QByteArray relaunched = "install helper: relaunched " + QFile::encodeName(bundle);
    EXPECT_TRUE(QTest::qWaitFor([&] { return QFileInfo::exists(log) && readFile(log).contains(relaunched); }, 60000));
}

TEST_F(CliUpdate, FFmpegInstallPrintsThePhasesAndThePlaceItWentTo)
{
    QUrl fallback = server().baseUrl();
    fallback.setHost("localhost");
    ProgramSetting setting{{{"VORLIK_FFMPEG_FALLBACK_ORIGIN", fallback.toString()}}};
    server().addFault({{"path", "/tools/ffmpeg/SHA256SUMS"}, {"action", "status"}, {"status", 404}});
    const ProgramRun result = cli({"ffmpeg", "install"}, setting);
    ASSERT_EQ(result.status, 0) << result.err.toStdString();
    const QString managed = dataHome() + "/Vorlik/FFmpegTools/ffmpeg";
    EXPECT_TRUE(result.out.startsWith("Vorlik can't convert anything without FFmpeg."));
    EXPECT_TRUE(result.out.contains("Downloading ffmpeg…\n") && result.out.contains("/Vorlik/FFmpegTools…\n"));
    EXPECT_TRUE(result.out.endsWith("✓ ffmpeg installed: " + managed + u'\n')) << result.out.toStdString();
    EXPECT_TRUE(QFileInfo(managed).isExecutable());

    server().reset();
    server().addFault({{"path", "/tools/ffmpeg/ffmpeg.zip"}, {"action", "status"}, {"status", 404}});
    setting.environment.insert("VORLIK_FFMPEG_FALLBACK_ORIGIN", "https://localhost:1");
    const ProgramRun failed = cli({"ffmpeg", "install"}, setting);
    EXPECT_EQ(failed.status, 1);
    EXPECT_TRUE(failed.err.startsWith("✗ Could not install ffmpeg: ")) << failed.err.toStdString();
    EXPECT_TRUE(QFileInfo(managed).isExecutable()); // the earlier one stays
}

} // namespace
