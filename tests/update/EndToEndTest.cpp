#include "platform/AppPaths.h"
#include "tests/support/ProgramRun.h"
#include "tests/support/TestFiles.h"
#include "tests/update/UpdateFixture.h"
#include "update/FileTree.h"
#include "update/InstallHelperScript.h"

#include <QFileInfo>

#include <sys/stat.h>

using vorlik::platform::AppPaths;
using vorlik::update::FileTree;
using vorlik::update::InstallHelperScript;
namespace test = vorlik::test;

namespace {

class EndToEnd : public test::PrivateTemp {
protected:
    void SetUp() override
    {
        PrivateTemp::SetUp();
        QDir(AppPaths::updates()).removeRecursively();
        QDir().mkpath(m_root.filePath(QStringLiteral("Applications")));
        FileTree::copy(QStringLiteral(VORLIK_PROBE_OLD_BUNDLE), installed());
    }

    QString installed() const { return m_root.filePath(QStringLiteral("Applications/Vorlik Desktop.app")); }
    QString report() const { return m_root.filePath(QStringLiteral("relaunched-version.txt")); }
    void publish(const QString &bundle)
    {
        QProcess script;
        test::startProgram(script, QStringLiteral(VORLIK_MAKE_UPDATE_IMAGE), {bundle, test::updatesFolder(), test::updateURL().toString()});
        ASSERT_TRUE(script.waitForFinished(120000));
        ASSERT_EQ(script.exitCode(), 0) << script.readAllStandardError().toStdString();
    }
    // Runs the installed old program's install: its exit status and what it printed.
    std::pair<int, QString> install()
    {
        const test::ProgramRun run = test::runProgram(
            installed() + QStringLiteral("/Contents/MacOS/vorlik-update-probe-old"),
            {"install", "-baseURL", test::updateServer().baseUrl().toString(), "-testCACertificates", VORLIK_TEST_CA,
             "-vorlikDiag", "YES"},
            {.environment = {{"VORLIK_PROBE_OUT", report()}}});
        return {run.status, run.out + run.err};
    }

    QTemporaryDir m_root;
};

TEST_F(EndToEnd, TheInstalledBundleIsReplacedAndTheNewVersionRelaunches)
{
    publish(QStringLiteral(VORLIK_PROBE_NEW_BUNDLE));
    const auto [status, output] = install();
    ASSERT_EQ(status, 0) << output.toStdString();
    EXPECT_TRUE(output.contains(QStringLiteral("[update] install helper spawned: "))) << output.toStdString();

    // The helper starts the new program once the old one has gone.
    ASSERT_TRUE(QTest::qWaitFor([&] { return QFileInfo::exists(report()) && test::readFile(report()).endsWith('\n'); }, 60000))
        << output.toStdString();
    EXPECT_EQ(test::readFile(report()), "1.2.25 (28)\n");
    EXPECT_EQ(test::snapshot(installed()), test::snapshot(QStringLiteral(VORLIK_PROBE_NEW_BUNDLE)));
    EXPECT_FALSE(QFileInfo::exists(installed() + QStringLiteral(".vorlik-old")));
    // The helper removed the staging folder and itself; the install log stays.
    ASSERT_TRUE(QTest::qWaitFor([] {
        return QDir(AppPaths::updates()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot) == QStringList{QStringLiteral("install.log")};
    }, 30000));
    EXPECT_EQ(test::tempEntries(QStringLiteral("vorlik-install-")), QStringList());
    const QString log = QString::fromUtf8(test::readFile(AppPaths::updates() + QStringLiteral("/install.log")));
    EXPECT_TRUE(log.startsWith(QStringLiteral("install helper: waiting for PID "))) << log.toStdString();
    EXPECT_TRUE(log.contains(QStringLiteral("install helper: relaunched ") + installed())) << log.toStdString();
}

TEST_F(EndToEnd, ARefusedUpdateLeavesTheRunningBundleAsItWas)
{
    // An image whose bundle says it is older than the description claims.
    const QString mislabelled = m_root.filePath(QStringLiteral("mislabelled/Vorlik Desktop.app"));
    QDir().mkpath(m_root.filePath(QStringLiteral("mislabelled")));
    FileTree::copy(QStringLiteral(VORLIK_PROBE_NEW_BUNDLE), mislabelled);
    publish(mislabelled);
    const QString latest = test::updatesFolder() + QStringLiteral("/latest.json");
    test::writeFile(latest, test::readFile(latest).replace("\"build\":28", "\"build\":29"));
    const auto before = test::snapshot(installed());

    const auto [status, output] = install();
    EXPECT_EQ(status, 1);
    EXPECT_TRUE(output.contains(QStringLiteral("error(Install failed: The update bundle build (28) does not match the manifest (29).)")))
        << output.toStdString();
    EXPECT_EQ(test::snapshot(installed()), before);
    EXPECT_FALSE(QFileInfo::exists(report()));
    // Neither the image nor its unpacked copy is left behind: a new attempt downloads again.
    EXPECT_EQ(test::tempEntries(QStringLiteral("vorlik-")), QStringList());
    EXPECT_EQ(QDir(AppPaths::updates()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
}

TEST(HelperScript, AProgramNameCannotBreakOutOfItsQuotes)
{
    EXPECT_EQ(InstallHelperScript::doubleQuotedContent(QStringLiteral("a\"b$c`d\\e f")), QStringLiteral("a\\\"b\\$c\\`d\\\\e f"));
    const QString text = InstallHelperScript::text(QStringLiteral("x\"; touch /tmp/owned; \""));
    EXPECT_TRUE(text.contains(QStringLiteral("setsid \"$APP/Contents/MacOS/x\\\"; touch /tmp/owned; \\\"\" >/dev/null")));
    const test::ProgramRun syntax = test::runProgram(QStringLiteral("/bin/bash"), {"-n", "-c", text});
    EXPECT_EQ(syntax.status, 0) << syntax.err.toStdString();
}

TEST(HelperScript, GivesUpWithStatus2WhenTheParentNeverExitsAndLeavesEverythingInPlace)
{
    QTemporaryDir root;
    const QString app = root.filePath(QStringLiteral("Vorlik Desktop.app"));
    const QString staging = root.filePath(QStringLiteral("Updates/1234"));
    const QString script = root.filePath(QStringLiteral("vorlik-install-test.sh"));
    const QString log = root.filePath(QStringLiteral("Updates/install.log"));
    test::writeFile(staging + QStringLiteral("/Vorlik Desktop.app/x"), "staged");
    test::writeFile(script, InstallHelperScript::text(QStringLiteral("probe")).toUtf8());
    // The 240 rounds of waiting shortened through the environment only: a `seq` that counts
    // to 3. The script's text stays as it is.
    const QString bin = root.filePath(QStringLiteral("bin"));
    test::writeFile(bin + QStringLiteral("/seq"), "#!/bin/sh\necho 1; echo 2; echo 3\n");
    ::chmod(QFile::encodeName(bin + QStringLiteral("/seq")).constData(), 0755);

    QProcess parent;
    test::startProgram(parent, QStringLiteral("/bin/sleep"), {"600"});
    const QString parentId = QString::number(parent.processId());
    const test::ProgramRun helper = test::runProgram(QStringLiteral("/bin/bash"), {script, app, "Vorlik Desktop", parentId, staging, log},
                                                     {.environment = {{"PATH", bin + u':' + qEnvironmentVariable("PATH")}}});
    EXPECT_EQ(helper.status, 2);
    parent.kill();
    parent.waitForFinished(10000);

    EXPECT_EQ(test::readFile(log), "install helper: waiting for PID " + parentId.toUtf8()
                                       + " to exit\ninstall helper: parent did not exit — aborting relaunch (app is installed)\n");
    EXPECT_TRUE(QFileInfo::exists(staging));
    EXPECT_TRUE(QFileInfo::exists(script));
}

} // namespace
