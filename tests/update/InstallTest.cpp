#include "platform/AppPaths.h"
#include "tests/support/TestFiles.h"
#include "tests/update/UpdateFixture.h"
#include "update/DiskImage.h"
#include "update/FileTree.h"
#include "update/RunningBundle.h"

#include <sys/stat.h>

using vorlik::platform::AppPaths;
using vorlik::test::ArchiveEntry;
using vorlik::test::ArchiveFormat;
using namespace vorlik::update;
namespace test = vorlik::test;

namespace {

const Manifest release = test::release();

bool chattr(const char *flag, const QString &path)
{
    return QProcess::execute(QStringLiteral("chattr"), {QString::fromLatin1(flag), path}) == 0;
}

// <prefix>/bin/vorlik-desktop as the install target lays it out; `marked` adds the package's
// mark in <prefix>/share/vorlik-desktop.
QString installedProgram(const QString &prefix, bool marked)
{
    test::writeFile(prefix + QStringLiteral("/bin/vorlik-desktop"), "#!/bin/sh\n");
    if (marked)
        test::writeFile(prefix + QStringLiteral("/share/vorlik-desktop/package-managed"), "installed by a package\n");
    return prefix + QStringLiteral("/bin/vorlik-desktop");
}

// A running bundle "old" in Applications, a staged bundle "new", and images made on demand.
class InstallTest : public test::ManagerTest {
protected:
    void SetUp() override
    {
        ManagerTest::SetUp();
        QDir(AppPaths::updates()).removeRecursively();
        m_current = test::makeBundle(applications(), {}, "old");
        m_staged = test::makeBundle(stagingDir(), {}, "new");
        m_before = test::snapshot(m_current);
    }
    void TearDown() override
    {
        chattr("-i", applications());
        ManagerTest::TearDown();
    }

    QString applications() const { return m_root.filePath(QStringLiteral("Applications")); }
    QString stagingDir() const { return m_root.filePath(QStringLiteral("Updates/0F0F")); }
    QString backup() const { return m_current + QStringLiteral(".vorlik-old"); }
    QString image(const std::vector<ArchiveEntry> &entries, ArchiveFormat format = ArchiveFormat::tarGzip)
    {
        const QString path = m_root.filePath(QStringLiteral("image-%1").arg(++m_images));
        test::writeArchive(path, format, entries);
        return path;
    }
    static UpdateManager::StagedApp stage(const QString &dmg) { return test::run(UpdateManager::prepareStagedApp(release, dmg)); }
    static QStringList stagingFolders() { return QDir(AppPaths::updates()).entryList(QDir::Dirs | QDir::NoDotAndDotDot); }
    int swapFailure(QString *text = nullptr)
    {
        return test::updateErrorCode([&] { UpdateManager::swapInStagedApp(m_current, m_staged); }, text);
    }
    // The running bundle as it was, no backup beside it, no helper script left.
    void expectUntouched()
    {
        EXPECT_EQ(test::snapshot(m_current), m_before);
        EXPECT_FALSE(QFileInfo::exists(backup()));
        EXPECT_EQ(test::tempEntries(QStringLiteral("vorlik-install-")), QStringList());
    }

    QTemporaryDir m_root;
    int m_images = 0;
    QString m_current, m_staged;
    QMap<QString, QByteArray> m_before;
};

TEST_F(InstallTest, AHostileForeignOrEmptyImageIsRefusedBeforeAnythingIsCopiedAndAGoodOneIsStagedFromAReadOnlyImage)
{
    const QString garbage = m_root.filePath(QStringLiteral("garbage"));
    test::writeFile(garbage, "<html>not an image</html>");
    const std::pair<QString, int> table[]{
        {image(test::imageEntries({}, {ArchiveEntry::file("../../evil", "x")}), ArchiveFormat::zip), 5},
        {image(test::imageEntries({}, {ArchiveEntry::symlink("Vorlik Desktop.app/Contents/Frameworks", "/usr/lib")})), 5},
        {image(test::imageEntries({}, {ArchiveEntry::hardlink("Vorlik Desktop.app/Contents/passwd", "/etc/passwd")})), 5},
        {garbage, 5}, {m_root.filePath(QStringLiteral("missing")), 5},
        {image(test::imageEntries({}, {}, "Other.app")), 6},
        {image({ArchiveEntry::file("Vorlik Desktop.app", "a file, not a bundle")}, ArchiveFormat::zip), 6},
        {image({ArchiveEntry::file("README", "empty image")}, ArchiveFormat::zip), 6},
        {image(test::imageEntries({.identifier = "com.example.trojan"})), 8}, {image(test::imageEntries({.shortVersion = "1.2.24"})), 9},
    };
    for (const auto &row : table) {
        const QString &dmg = row.first; // clang 14 cannot capture a structured binding
        const int code = row.second;
        QString text;
        EXPECT_EQ(test::updateErrorCode([&] { stage(dmg); }, &text), code) << dmg.toStdString();
        EXPECT_TRUE(code > 6 || text == (code == 5 ? "Could not open the update disk image." : "The update disk image has no app bundle."))
            << text.toStdString();
    }
    EXPECT_TRUE(test::takeUpdateLogLines().first().startsWith(
        QStringLiteral("update image not opened: Refused the archive entry \"../../evil\"")));
    EXPECT_FALSE(QFileInfo::exists(m_temp.filePath(QStringLiteral("../evil"))));
    EXPECT_EQ(stagingFolders(), QStringList());

    // A checked bundle is copied from a read-only private image, which is detached after.
    const std::optional<QString> mounted = DiskImage::attach(image(test::imageEntries()));
    ASSERT_TRUE(mounted.has_value());
    EXPECT_EQ(QFileInfo(*mounted).permissions() & (QFileDevice::ReadGroup | QFileDevice::ReadOther), 0);
    EXPECT_FALSE(QFileInfo(*mounted + QStringLiteral("/Vorlik Desktop.app/Contents/Info.plist")).permission(QFileDevice::WriteOwner));
    EXPECT_FALSE(QFileInfo(*mounted + QStringLiteral("/Vorlik Desktop.app/Contents")).permission(QFileDevice::WriteOwner));
    EXPECT_TRUE(UpdateManager::unmount(*mounted));
    EXPECT_FALSE(QFileInfo::exists(*mounted));

    for (const bool zip : {false, true}) {
        const UpdateManager::StagedApp staged = stage(image(test::imageEntries({.binary = zip}), zip ? ArchiveFormat::zip : ArchiveFormat::tarGzip));
        EXPECT_EQ(QFileInfo(staged.stagingDir).absolutePath(), AppPaths::updates());
        EXPECT_EQ(staged.stagedApp, staged.stagingDir + QStringLiteral("/Vorlik Desktop.app"));
        const QString program = staged.stagedApp + QStringLiteral("/Contents/MacOS/vorlik");
        EXPECT_EQ(test::readFile(program), "#!/bin/sh\necho new\n");
        EXPECT_TRUE(QFileInfo(program).isExecutable());
        // The copy is the owner's to replace later, although the image was read-only.
        EXPECT_TRUE(QFileInfo(program).permission(QFileDevice::WriteOwner));
        EXPECT_EQ(QFileInfo(staged.stagedApp + QStringLiteral("/Contents/Resources/current")).symLinkTarget(),
                  staged.stagedApp + QStringLiteral("/Contents/Resources/notes.txt"));
    }
    EXPECT_EQ(stagingFolders().size(), 2);
    EXPECT_EQ(test::tempEntries(QStringLiteral("vorlik-image-")), QStringList());
}

TEST_F(InstallTest, ACopyThatFailsHalfwayPutsTheOldBundleBack)
{
    // A pipe sorts after the other entries of Resources: the copy gets halfway first.
    ASSERT_EQ(::mkfifo(QFile::encodeName(m_staged + QStringLiteral("/Contents/Resources/zz-pipe")).constData(), 0644), 0);
    QString text;
    EXPECT_EQ(swapFailure(&text), 14);
    EXPECT_TRUE(text.startsWith(QStringLiteral("Copy failed and the previous version was restored — Could not copy ") + m_staged
                                + QStringLiteral("/Contents/Resources/zz-pipe")))
        << text.toStdString();
    expectUntouched();

    m_manager.performSwap(m_current, m_staged, stagingDir());
    EXPECT_TRUE(m_manager.phase().message.startsWith(
        "Install failed and the previous version was restored — Copy failed and the previous version was restored — "))
        << m_manager.phase().debugText().toStdString();
    expectUntouched();
}

TEST_F(InstallTest, AFolderThatRefusesTheMoveIsLeftAloneWithWordsOnWhatToDo)
{
    if (!chattr("+i", applications()))
        GTEST_SKIP() << "chattr +i is not available here";
    QString text;
    EXPECT_EQ(swapFailure(&text), 13);
    EXPECT_TRUE(text.startsWith(QStringLiteral("Could not move the current app aside — Could not move aside ") + m_current + u':'))
        << text.toStdString();
    m_manager.performSwap(m_current, m_staged, stagingDir());
    chattr("-i", applications());
    EXPECT_EQ(m_manager.phase(), UpdatePhase::error("Downloaded Vorlik Desktop.app, but " + applications() + " is not writable. "
                                                     "Copy Vorlik Desktop from " + stagingDir() + " to a folder you can write to."));
    expectUntouched();
    EXPECT_TRUE(QFileInfo::exists(m_staged));
}

TEST_F(InstallTest, TheSwapReplacesTheCurrentBundleAndAHelperThatCannotBeWrittenLeavesItInPlace)
{
    test::writeFile(backup() + QStringLiteral("/leftover"), "from an install long ago");
    qputenv("TMPDIR", QFile::encodeName(m_temp.filePath(QStringLiteral("gone"))));
    m_manager.performSwap(m_current, m_staged, stagingDir());
    EXPECT_TRUE(m_manager.phase().message.startsWith(QStringLiteral("Install failed: "))) << m_manager.phase().debugText().toStdString();
    // The swap had happened: the new version starts next time.
    EXPECT_EQ(test::snapshot(m_current), test::snapshot(m_staged));
    EXPECT_TRUE(QFileInfo(m_current + QStringLiteral("/Contents/MacOS/vorlik")).isExecutable());
    EXPECT_FALSE(QFileInfo::exists(backup()));
    EXPECT_TRUE(QFileInfo::exists(m_staged)); // the helper would remove the staging folder later
}

// (While conversions or analyses run, the install is refused too: the update sheet's tests.)
TEST_F(InstallTest, IsRefusedOutsideABundleAndInAPackagedCopyTouchingNothing)
{
    const QString notInBundle = "Vorlik Desktop is not running from its app bundle (" + QCoreApplication::applicationFilePath()
        + "), so it cannot replace itself with the update.";
    const QString packaged = "This copy of Vorlik Desktop was installed by the package manager, so its updates come through the "
                             "package manager: install the newer vorlik-desktop package the way you installed this one.";
    const QString byPackage = QStringLiteral(" refused: the package manager updates this copy");
    const QString prefix = m_root.filePath(QStringLiteral("usr"));
    const Installation marked = Installation::of(installedProgram(prefix, true));
    const QMap<QString, QByteArray> installed = test::snapshot(prefix);
    const QString dmg = image(test::imageEntries());
    Manifest remote = release;
    remote.dmg = QStringLiteral("https://127.0.0.1:1/image.tar.gz"); // refused before any request
    const std::tuple<Installation, QString, QString, QStringList> cases[]{
        {Installation::current(), QStringLiteral("Install failed: ") + notInBundle, notInBundle,
         {QStringLiteral("install failed: ") + notInBundle, QStringLiteral("download refused: ") + notInBundle}},
        {marked, packaged, packaged, {QStringLiteral("install") + byPackage, QStringLiteral("download") + byPackage}}};
    for (const auto &[installation, installError, downloadError, lines] : cases) {
        m_manager.setInstallationForTesting(installation);
        m_manager.installAndRelaunch(release, dmg);
        EXPECT_EQ(m_manager.phase(), UpdatePhase::error(installError));
        test::run(m_manager.download(remote));
        EXPECT_EQ(m_manager.phase(), UpdatePhase::error(downloadError));
        EXPECT_EQ(test::takeUpdateLogLines(), lines);
    }
    EXPECT_EQ(test::snapshot(prefix), installed);
    EXPECT_TRUE(QFileInfo::exists(dmg)); // not even opened
    EXPECT_FALSE(QFileInfo::exists(AppPaths::updates()));
    EXPECT_EQ(test::tempEntries(QStringLiteral("vorlik-update-")), QStringList());
}

TEST(InstallationTest, IsTheBundleAPackagedCopyOrNeither)
{
    QTemporaryDir root;
    const QString bundle = root.filePath(QStringLiteral("Vorlik Desktop.app"));
    const Installation inBundle = Installation::of(bundle + QStringLiteral("/Contents/MacOS/vorlik-desktop"));
    EXPECT_TRUE(inBundle.is(Installation::Kind::bundle));
    EXPECT_EQ(inBundle.resourceFolder, bundle + QStringLiteral("/Contents/Resources"));
    const QString marked = root.filePath(QStringLiteral("marked"));
    EXPECT_EQ(Installation::of(installedProgram(marked, true)).resourceFolder, marked + QStringLiteral("/share/vorlik-desktop"));

    // The same layout without the mark, in a folder the user may write: a copy of nobody's. A
    // folder the user cannot write belongs to whoever installed the program there; as root,
    // only an immutable folder is one.
    const QString plain = root.filePath(QStringLiteral("plain"));
    EXPECT_TRUE(Installation::of(installedProgram(plain, false)).is(Installation::Kind::loose));
    if (!chattr("+i", plain + QStringLiteral("/bin")))
        GTEST_SKIP() << "chattr +i is not available here";
    const Installation locked = Installation::of(plain + QStringLiteral("/bin/vorlik-desktop"));
    chattr("-i", plain + QStringLiteral("/bin"));
    EXPECT_TRUE(locked.is(Installation::Kind::packaged));
}

TEST(RunningBundleTest, TheBundleIsThreeFoldersAboveTheProgramWhoseNameInfoPlistGives)
{
    const std::pair<const char *, std::optional<QString>> programs[]{
        {"/opt/apps/Vorlik Desktop.app/Contents/MacOS/vorlik-desktop", "/opt/apps/Vorlik Desktop.app"},
        {"/home/u/Vorlik.app/Contents/MacOS/vorlik", "/home/u/Vorlik.app"}, {"/usr/bin/vorlik", std::nullopt},
        {"/x/Vorlik Desktop/Contents/MacOS/vorlik", std::nullopt}, {"/x/.app/Contents/MacOS/vorlik", std::nullopt},
        {"/x/A.app/Contents/Resources/vorlik", std::nullopt}};
    for (const auto &[program, bundle] : programs)
        EXPECT_EQ(RunningBundle::containing(QString::fromUtf8(program)), bundle) << program;
    EXPECT_EQ(RunningBundle::current(), std::nullopt); // this test binary sits in the build folder

    QTemporaryDir root;
    EXPECT_EQ(RunningBundle::executableName(test::makeBundle(root.filePath("a"), {.executable = "vorlik-desktop"})),
              QStringLiteral("vorlik-desktop"));
    test::writeFile(root.filePath("b/Contents/Info.plist"), test::infoPlist({.executable = "../../bin/sh"}));
    EXPECT_EQ(RunningBundle::executableName(root.filePath("b")), QString());
    EXPECT_EQ(RunningBundle::executableName(root.filePath(QStringLiteral("nothing"))), QString());

    // A tree made read-only is still removed whole; a copy never lands on something there.
    const QString tree = test::makeBundle(root.filePath("c"), {}, "x");
    FileTree::makeReadOnly(tree);
    EXPECT_THROW(FileTree::copy(root.filePath("a"), tree), vorlik::Failure);
    EXPECT_TRUE(FileTree::remove(tree));
    EXPECT_FALSE(QFileInfo::exists(tree));
    EXPECT_TRUE(FileTree::remove(root.filePath(QStringLiteral("never-there"))));
}

} // namespace
