// Starting an install: refused while work runs or when the program has no bundle; a bad image
// ends in the install error with the current bundle untouched; and where the bundle is found.
#include "app/ActiveJobs.h"
#include "platform/AppPaths.h"
#include "platform/Settings.h"
#include "tests/support/TestArchive.h"
#include "tests/support/TestFiles.h"
#include "tests/update/UpdateFixture.h"
#include "update/RunningBundle.h"
#include "update/UpdateManager.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>

using vorlik::app::ActiveJobs;
using vorlik::platform::Settings;
using vorlik::test::ArchiveEntry;
using vorlik::test::ArchiveFormat;
using vorlik::update::Manifest;
using vorlik::update::RunningBundle;
using vorlik::update::UpdateManager;
using vorlik::update::UpdatePhase;
namespace test = vorlik::test;

namespace {

class InstallTest : public test::PrivateTemp {
protected:
    void SetUp() override
    {
        PrivateTemp::SetUp();
        QDir(vorlik::platform::AppPaths::updates()).removeRecursively();
        m_current = test::makeBundle(m_root.path(), {}, "old");
        m_before = test::snapshot(m_current);
        m_manifest.version = QStringLiteral("1.2.25");
        m_manifest.build = 28;
        test::takeUpdateLogLines();
    }

    QString image(const test::BundleInfo &info)
    {
        const QString path = m_root.filePath(QStringLiteral("image.tar.gz"));
        test::writeArchive(path, ArchiveFormat::tarGzip,
                           {ArchiveEntry::file("Vorlik Desktop.app/Contents/Info.plist", test::infoPlist(info)),
                            ArchiveEntry::file("Vorlik Desktop.app/Contents/MacOS/vorlik", "#!/bin/sh\n", 0755)});
        return path;
    }

    QTemporaryDir m_root;
    QString m_current;
    QMap<QString, QByteArray> m_before;
    Manifest m_manifest;
    ActiveJobs m_jobs;
    UpdateManager m_manager{Settings::standard(), m_jobs};
};

TEST_F(InstallTest, IsRefusedWhileWorkRuns)
{
    m_manager.setCurrentAppForTesting(m_current);
    m_jobs.begin(QStringLiteral("Conversion"));
    m_manager.installAndRelaunch(m_manifest, image({}));
    EXPECT_EQ(m_manager.phase(),
              UpdatePhase::error(QStringLiteral("Stop active conversions/analysis before installing the update.")));
    m_jobs.end(QStringLiteral("Conversion"));
    EXPECT_EQ(test::snapshot(m_current), m_before);
    EXPECT_FALSE(QFileInfo::exists(vorlik::platform::AppPaths::updates()));
}

TEST_F(InstallTest, IsRefusedForAProgramOutsideABundle)
{
    m_manager.installAndRelaunch(m_manifest, image({}));
    EXPECT_EQ(m_manager.phase(),
              UpdatePhase::error(QStringLiteral("Install failed: Vorlik Desktop is not running from its app bundle (")
                                 + QCoreApplication::applicationFilePath()
                                 + QStringLiteral("), so it cannot replace itself with the update.")));
    EXPECT_FALSE(QFileInfo::exists(vorlik::platform::AppPaths::updates()));
}

TEST_F(InstallTest, AStagingFailureEndsInTheInstallErrorWithTheBundleUntouched)
{
    m_manager.setCurrentAppForTesting(m_current);
    test::BundleInfo foreign;
    foreign.identifier = QStringLiteral("com.example.other");
    const QString dmg = image(foreign);
    QList<UpdatePhase> phases;
    QObject::connect(&m_manager, &UpdateManager::phaseChanged, &m_manager, [&] { phases << m_manager.phase(); });

    m_manager.installAndRelaunch(m_manifest, dmg);
    EXPECT_EQ(m_manager.phase(), UpdatePhase::installing());
    ASSERT_TRUE(test::waitUntil([&] { return !m_manager.phase().is(UpdatePhase::Kind::installing); }));

    const QString expected = QStringLiteral("Install failed: The update bundle is not Vorlik Desktop.");
    EXPECT_EQ(phases, (QList<UpdatePhase>{UpdatePhase::installing(), UpdatePhase::error(expected)}));
    EXPECT_EQ(test::takeUpdateLogLines(),
              (QStringList{QStringLiteral("installAndRelaunch version=1.2.25 dmg=") + dmg + QStringLiteral(" current=") + m_current,
                           QStringLiteral("install failed: The update bundle is not Vorlik Desktop.")}));
    EXPECT_EQ(test::snapshot(m_current), m_before);
    EXPECT_EQ(test::tempEntries(QStringLiteral("vorlik-image-")), QStringList());
    // The image is of no further use (a new attempt downloads again): it is not left behind.
    EXPECT_FALSE(QFileInfo::exists(dmg));
}

TEST(RunningBundleTest, TheBundleIsThreeFoldersAboveTheProgram)
{
    EXPECT_EQ(RunningBundle::containing(QStringLiteral("/opt/apps/Vorlik Desktop.app/Contents/MacOS/vorlik-desktop")),
              QStringLiteral("/opt/apps/Vorlik Desktop.app"));
    EXPECT_EQ(RunningBundle::containing(QStringLiteral("/home/u/Vorlik.app/Contents/MacOS/vorlik")),
              QStringLiteral("/home/u/Vorlik.app"));
    EXPECT_EQ(RunningBundle::containing(QStringLiteral("/usr/bin/vorlik")), std::nullopt);
    EXPECT_EQ(RunningBundle::containing(QStringLiteral("/build/app/cli/vorlik")), std::nullopt);
    EXPECT_EQ(RunningBundle::containing(QStringLiteral("/x/Vorlik Desktop/Contents/MacOS/vorlik")), std::nullopt);
    EXPECT_EQ(RunningBundle::containing(QStringLiteral("/x/.app/Contents/MacOS/vorlik")), std::nullopt);
    EXPECT_EQ(RunningBundle::containing(QStringLiteral("/x/A.app/Contents/Resources/vorlik")), std::nullopt);
    EXPECT_EQ(RunningBundle::current(), std::nullopt); // this test binary sits in the build folder
}

TEST(RunningBundleTest, TheProgramNameComesFromInfoPlistWhenItIsAPlainName)
{
    QTemporaryDir root;
    test::BundleInfo info;
    info.executable = QStringLiteral("vorlik-desktop");
    EXPECT_EQ(RunningBundle::executableName(test::makeBundle(root.path(), info)), QStringLiteral("vorlik-desktop"));
    QTemporaryDir other;
    info.executable = QStringLiteral("../../bin/sh");
    const QString bundle = other.path() + QStringLiteral("/Vorlik Desktop.app");
    test::writeFile(bundle + QStringLiteral("/Contents/Info.plist"), test::infoPlist(info));
    EXPECT_EQ(RunningBundle::executableName(bundle), QString());
    EXPECT_EQ(RunningBundle::executableName(other.filePath(QStringLiteral("nothing"))), QString());
}

} // namespace
