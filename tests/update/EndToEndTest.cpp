// A whole update, for real: a copy of a bundle built by the project runs, finds the newer
// release on the stand-in service over HTTPS, downloads and checks it, swaps it in, quits, and
// the helper starts the new program, which reports its own compiled-in version.
#include "platform/AppPaths.h"
#include "tests/support/TestFiles.h"
#include "tests/update/UpdateFixture.h"
#include "update/FileTree.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>

using vorlik::update::FileTree;
namespace test = vorlik::test;

namespace {

class EndToEnd : public test::PrivateTemp {
protected:
    void SetUp() override
    {
        PrivateTemp::SetUp();
        QDir(vorlik::platform::AppPaths::updates()).removeRecursively();
        QDir().mkpath(applications());
        FileTree::copy(QStringLiteral(VORLIK_PROBE_OLD_BUNDLE), installed());
    }

    QString applications() const { return m_root.filePath(QStringLiteral("Applications")); }
    QString installed() const { return applications() + QStringLiteral("/Vorlik Desktop.app"); }
    QString report() const { return m_root.filePath(QStringLiteral("relaunched-version.txt")); }

    void publish(const QString &bundle)
    {
        QProcess script;
        script.start(QStringLiteral(VORLIK_MAKE_UPDATE_IMAGE),
                     {bundle, test::updatesFolder(), test::imageURL(QString()).toString()});
        ASSERT_TRUE(script.waitForFinished(120000));
        ASSERT_EQ(script.exitCode(), 0) << script.readAllStandardError().toStdString();
    }

    QTemporaryDir m_root;
};

TEST_F(EndToEnd, TheInstalledBundleIsReplacedAndTheNewVersionRelaunches)
{
    publish(QStringLiteral(VORLIK_PROBE_NEW_BUNDLE));
    const QByteArray newInfo = test::readFile(QStringLiteral(VORLIK_PROBE_NEW_BUNDLE "/Contents/Info.plist"));

    QProcess running;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("VORLIK_PROBE_OUT"), report());
    running.setProcessEnvironment(environment);
    running.start(installed() + QStringLiteral("/Contents/MacOS/vorlik-update-probe-old"),
                  {QStringLiteral("install"), QStringLiteral("-baseURL"), test::updateServer().baseUrl().toString(),
                   QStringLiteral("-testCACertificates"), QStringLiteral(VORLIK_TEST_CA), QStringLiteral("-vorlikDiag"),
                   QStringLiteral("YES")});
    ASSERT_TRUE(running.waitForFinished(120000));
    const QString output = QString::fromUtf8(running.readAllStandardOutput() + running.readAllStandardError());
    ASSERT_EQ(running.exitCode(), 0) << output.toStdString();
    EXPECT_TRUE(output.contains(QStringLiteral("[update] install helper spawned: "))) << output.toStdString();

    // The helper starts the new program once the old one has gone.
    ASSERT_TRUE(test::waitUntil([&] { return QFileInfo::exists(report()) && test::readFile(report()).endsWith('\n'); }, 60000))
        << output.toStdString();
    EXPECT_EQ(test::readFile(report()), "1.2.25 (28)\n");

    EXPECT_EQ(test::readFile(installed() + QStringLiteral("/Contents/Info.plist")), newInfo);
    EXPECT_TRUE(QFileInfo(installed() + QStringLiteral("/Contents/MacOS/vorlik-update-probe-new")).isExecutable());
    EXPECT_FALSE(QFileInfo::exists(installed() + QStringLiteral(".vorlik-old")));
    // The helper removed the staging folder and itself; the install log stays.
    ASSERT_TRUE(test::waitUntil([] {
        return QDir(vorlik::platform::AppPaths::updates()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot)
            == QStringList{QStringLiteral("install.log")};
    }, 30000));
    EXPECT_EQ(test::tempEntries(QStringLiteral("vorlik-install-")), QStringList());
    const QString log = QString::fromUtf8(test::readFile(vorlik::platform::AppPaths::updates() + QStringLiteral("/install.log")));
    EXPECT_TRUE(log.contains(QStringLiteral("install helper: relaunched ") + installed())) << log.toStdString();
}

TEST_F(EndToEnd, ARefusedUpdateLeavesTheRunningBundleAsItWas)
{
    // An image whose bundle says it is older than the description claims.
    const QString mislabelled = m_root.filePath(QStringLiteral("mislabelled"));
    QDir().mkpath(mislabelled);
    FileTree::copy(QStringLiteral(VORLIK_PROBE_NEW_BUNDLE), mislabelled + QStringLiteral("/Vorlik Desktop.app"));
    publish(mislabelled + QStringLiteral("/Vorlik Desktop.app"));
    const QString latest = test::updatesFolder() + QStringLiteral("/latest.json");
    test::writeFile(latest, test::readFile(latest).replace("\"build\":28", "\"build\":29"));
    const auto before = test::snapshot(installed());

    QProcess running;
    running.start(installed() + QStringLiteral("/Contents/MacOS/vorlik-update-probe-old"),
                  {QStringLiteral("install"), QStringLiteral("-baseURL"), test::updateServer().baseUrl().toString(),
                   QStringLiteral("-testCACertificates"), QStringLiteral(VORLIK_TEST_CA)});
    ASSERT_TRUE(running.waitForFinished(120000));
    EXPECT_EQ(running.exitCode(), 1);
    EXPECT_TRUE(running.readAllStandardError().contains(
        "error(Install failed: The update bundle build (28) does not match the manifest (29).)"));
    EXPECT_EQ(test::snapshot(installed()), before);
    EXPECT_FALSE(QFileInfo::exists(report()));
}

} // namespace
