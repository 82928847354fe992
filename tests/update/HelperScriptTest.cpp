// The install helper script: quoting of the program name, and what it does when run by bash with a
// parent that quits and with one that never does.
#include "tests/support/TestFiles.h"
#include "tests/update/UpdateFixture.h"
#include "update/InstallHelperScript.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include <sys/stat.h>

using vorlik::update::InstallHelperScript;
namespace test = vorlik::test;

namespace {

TEST(HelperScriptText, AProgramNameCannotBreakOutOfItsQuotes)
{
    EXPECT_EQ(InstallHelperScript::doubleQuotedContent(QStringLiteral("a\"b$c`d\\e f")), QStringLiteral("a\\\"b\\$c\\`d\\\\e f"));
    const QString text = InstallHelperScript::text(QStringLiteral("x\"; touch /tmp/owned; \""));
    EXPECT_TRUE(text.contains(QStringLiteral("setsid \"$APP/Contents/MacOS/x\\\"; touch /tmp/owned; \\\"\" >/dev/null")));
    QProcess syntax;
    syntax.start(QStringLiteral("/bin/bash"), {QStringLiteral("-n"), QStringLiteral("-c"), text});
    ASSERT_TRUE(syntax.waitForFinished(10000));
    EXPECT_EQ(syntax.exitCode(), 0) << syntax.readAllStandardError().toStdString();
}

// Runs the script as the updater does, for an app whose program appends "relaunched" to
// $VORLIK_PROBE_OUT.
class HelperScriptRun : public ::testing::Test {
protected:
    void SetUp() override
    {
        test::BundleInfo info;
        info.executable = QStringLiteral("probe");
        m_app = test::makeBundle(m_root.path(), info);
        test::writeFile(m_app + QStringLiteral("/Contents/MacOS/probe"), "#!/bin/sh\necho relaunched \"$@\" >> \"$VORLIK_PROBE_OUT\"\n");
        ::chmod(QFile::encodeName(m_app + QStringLiteral("/Contents/MacOS/probe")).constData(), 0755);
        test::writeFile(staging() + QStringLiteral("/Vorlik Desktop.app/x"), "staged");
        test::writeFile(script(), InstallHelperScript::text(QStringLiteral("probe")).toUtf8());
        ::chmod(QFile::encodeName(script()).constData(), 0755);
    }

    QString staging() const { return m_root.filePath(QStringLiteral("Updates/1234")); }
    QString script() const { return m_root.filePath(QStringLiteral("vorlik-install-test.sh")); }
    QString log() const { return m_root.filePath(QStringLiteral("Updates/install.log")); }
    QString marker() const { return m_root.filePath(QStringLiteral("relaunched.txt")); }

    int runHelper(qint64 parent, const QProcessEnvironment &environment)
    {
        QProcess helper;
        QProcessEnvironment env = environment;
        env.insert(QStringLiteral("VORLIK_PROBE_OUT"), marker());
        helper.setProcessEnvironment(env);
        helper.start(QStringLiteral("/bin/bash"), {script(), m_app, QStringLiteral("Vorlik Desktop"), QString::number(parent),
                                                   staging(), log()});
        EXPECT_TRUE(helper.waitForFinished(120000));
        return helper.exitCode();
    }

    QTemporaryDir m_root;
    QString m_app;
};

TEST_F(HelperScriptRun, RelaunchesOnceTheParentHasGoneAndCleansUp)
{
    QProcess parent;
    parent.start(QStringLiteral("/bin/true"));
    ASSERT_TRUE(parent.waitForFinished(10000));
    const qint64 gone = parent.processId() ? parent.processId() : 999999;

    EXPECT_EQ(runHelper(gone, QProcessEnvironment::systemEnvironment()), 0);
    // The relaunched program runs detached: wait for its line.
    ASSERT_TRUE(test::waitUntil([&] { return QFileInfo::exists(marker()) && test::readFile(marker()).endsWith('\n'); }, 30000));
    EXPECT_EQ(test::readFile(marker()), "relaunched\n");
    EXPECT_FALSE(QFileInfo::exists(staging()));
    EXPECT_FALSE(QFileInfo::exists(script()));
    const QString text = QString::fromUtf8(test::readFile(log()));
    EXPECT_TRUE(text.contains(QStringLiteral("install helper: waiting for PID %1 to exit\n").arg(gone))) << text.toStdString();
    EXPECT_TRUE(text.endsWith(QStringLiteral("install helper: relaunched ") + m_app + u'\n')) << text.toStdString();
}

TEST_F(HelperScriptRun, GivesUpWithStatus2WhenTheParentNeverExits)
{
    QProcess parent;
    parent.start(QStringLiteral("/bin/sleep"), {QStringLiteral("600")});
    ASSERT_TRUE(parent.waitForStarted(10000));
    // The 240 rounds of waiting shortened through the environment only: a `seq` that counts
    // to 3. The script's text stays as it is.
    const QString bin = m_root.filePath(QStringLiteral("bin"));
    test::writeFile(bin + QStringLiteral("/seq"), "#!/bin/sh\necho 1; echo 2; echo 3\n");
    ::chmod(QFile::encodeName(bin + QStringLiteral("/seq")).constData(), 0755);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("PATH"), bin + u':' + environment.value(QStringLiteral("PATH")));

    EXPECT_EQ(runHelper(parent.processId(), environment), 2);
    parent.kill();
    parent.waitForFinished(10000);

    const QString text = QString::fromUtf8(test::readFile(log()));
    EXPECT_TRUE(text.endsWith(QStringLiteral("install helper: parent did not exit — aborting relaunch (app is installed)\n")))
        << text.toStdString();
    EXPECT_FALSE(QFileInfo::exists(marker()));
    EXPECT_TRUE(QFileInfo::exists(staging()));
    EXPECT_TRUE(QFileInfo::exists(script()));
}

} // namespace
