// Starting an install: refused while work runs, when the program has no bundle, and in a copy a
// package manager updates (whose files are never touched); a bad image ends in the install error
// with the current bundle untouched; and how the installation is told from the program's path.
#include "app/ActiveJobs.h"
#include "platform/AppPaths.h"
#include "platform/Settings.h"
#include "tests/support/TestArchive.h"
#include "tests/support/TestFiles.h"
#include "tests/update/UpdateFixture.h"
#include "update/Installation.h"
#include "update/RunningBundle.h"
#include "update/UpdateManager.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QProcess>

using vorlik::app::ActiveJobs;
using vorlik::platform::Settings;
using vorlik::test::ArchiveEntry;
using vorlik::test::ArchiveFormat;
using vorlik::update::Installation;
using vorlik::update::Manifest;
using vorlik::update::RunningBundle;
using vorlik::update::UpdateManager;
using vorlik::update::UpdatePhase;
namespace test = vorlik::test;

namespace {

// <prefix>/bin/vorlik-desktop as the install target lays it out; `marked` adds the package's
// mark in <prefix>/share/vorlik-desktop.
QString installedProgram(const QString &prefix, bool marked)
{
    const QString program = prefix + QStringLiteral("/bin/vorlik-desktop");
    test::writeFile(program, "#!/bin/sh\n");
    if (marked)
        test::writeFile(prefix + QStringLiteral("/share/vorlik-desktop/package-managed"), "installed by a package\n");
    return program;
}

bool chattr(const QString &flag, const QString &path)
{
    return QProcess::execute(QStringLiteral("chattr"), {flag, path}) == 0;
}

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

TEST_F(InstallTest, IsRefusedForAProgramOutsideABundleAndSoIsTheDownload)
{
    const QString notInBundle = QStringLiteral("Vorlik Desktop is not running from its app bundle (")
        + QCoreApplication::applicationFilePath() + QStringLiteral("), so it cannot replace itself with the update.");
    m_manager.installAndRelaunch(m_manifest, image({}));
    EXPECT_EQ(m_manager.phase(), UpdatePhase::error(QStringLiteral("Install failed: ") + notInBundle));

    m_manifest.dmg = QStringLiteral("https://127.0.0.1:1/image.tar.gz"); // refused before any request
    test::run(m_manager.download(m_manifest));
    EXPECT_EQ(m_manager.phase(), UpdatePhase::error(notInBundle));
    EXPECT_EQ(test::takeUpdateLogLines().last(), QStringLiteral("download refused: ") + notInBundle);
    EXPECT_EQ(test::tempEntries(QStringLiteral("vorlik-update-")), QStringList());
    EXPECT_FALSE(QFileInfo::exists(vorlik::platform::AppPaths::updates()));
}

TEST_F(InstallTest, APackagedCopyIsLeftToThePackageManagerWithItsFilesUntouched)
{
    const QString prefix = m_root.filePath(QStringLiteral("usr"));
    m_manager.setInstallationForTesting(Installation::of(installedProgram(prefix, true)));
    const QMap<QString, QByteArray> installed = test::snapshot(prefix);
    const QString dmg = image({});
    const UpdatePhase refused = UpdatePhase::error(
        QStringLiteral("This copy of Vorlik Desktop was installed by the package manager, so its updates come "
                                        "through the package manager: install the newer vorlik-desktop package the way you "
                                        "installed this one."));

    m_manager.installAndRelaunch(m_manifest, dmg);
    EXPECT_EQ(m_manager.phase(), refused);
    m_manifest.dmg = QStringLiteral("https://127.0.0.1:1/image.tar.gz"); // refused before any request
    test::run(m_manager.download(m_manifest));
    EXPECT_EQ(m_manager.phase(), refused);

    EXPECT_EQ(test::takeUpdateLogLines(), (QStringList{QStringLiteral("install refused: the package manager updates this copy"),
                                                       QStringLiteral("download refused: the package manager updates this copy")}));
    EXPECT_EQ(test::snapshot(prefix), installed);
    EXPECT_TRUE(QFileInfo::exists(dmg)); // not even opened
    EXPECT_FALSE(QFileInfo::exists(vorlik::platform::AppPaths::updates()));
    EXPECT_EQ(test::tempEntries(QStringLiteral("vorlik-update-")), QStringList());
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

TEST(InstallationTest, IsTheBundleAPackagedCopyOrNeither)
{
    QTemporaryDir root;
    const QString bundle = root.filePath(QStringLiteral("Vorlik Desktop.app"));
    const Installation inBundle = Installation::of(bundle + QStringLiteral("/Contents/MacOS/vorlik-desktop"));
    EXPECT_TRUE(inBundle.is(Installation::Kind::bundle));
    EXPECT_EQ(inBundle.bundle, bundle);
    EXPECT_EQ(inBundle.resourceFolder, bundle + QStringLiteral("/Contents/Resources"));

    const QString marked = root.filePath(QStringLiteral("marked"));
    const Installation packaged = Installation::of(installedProgram(marked, true));
    EXPECT_TRUE(packaged.is(Installation::Kind::packaged));
    EXPECT_EQ(packaged.resourceFolder, marked + QStringLiteral("/share/vorlik-desktop"));

    // The same layout without the mark, in a folder the user may write: a copy of nobody's.
    const QString plain = root.filePath(QStringLiteral("plain"));
    const Installation loose = Installation::of(installedProgram(plain, false));
    EXPECT_TRUE(loose.is(Installation::Kind::loose));
    EXPECT_EQ(loose.resourceFolder, QString());
    EXPECT_TRUE(Installation::current().is(Installation::Kind::loose)); // this test binary, in the build folder

    // A folder the user cannot write belongs to whoever installed the program there. As root,
    // only an immutable folder is one.
    if (!chattr(QStringLiteral("+i"), plain + QStringLiteral("/bin")))
        GTEST_SKIP() << "chattr +i is not available here";
    const Installation locked = Installation::of(plain + QStringLiteral("/bin/vorlik-desktop"));
    chattr(QStringLiteral("-i"), plain + QStringLiteral("/bin"));
    EXPECT_TRUE(locked.is(Installation::Kind::packaged));
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
