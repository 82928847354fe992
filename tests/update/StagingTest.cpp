// Staging an update from its image: the image is unpacked read-only and always detached, the
// bundle in it is checked, and a hostile image is refused before anything is copied.
#include "platform/AppPaths.h"
#include "tests/support/TestArchive.h"
#include "tests/support/TestFiles.h"
#include "tests/update/UpdateFixture.h"
#include "update/DiskImage.h"
#include "update/UpdateError.h"
#include "update/UpdateManager.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>

#include <sys/stat.h>

using vorlik::test::ArchiveEntry;
using vorlik::test::ArchiveFormat;
using vorlik::update::DiskImage;
using vorlik::update::Manifest;
using vorlik::update::UpdateError;
using vorlik::update::UpdateManager;
namespace test = vorlik::test;

namespace {

const QByteArray app = "Vorlik Desktop.app";

std::vector<ArchiveEntry> bundleEntries(const test::BundleInfo &info = {}, const QByteArray &top = app)
{
    return {ArchiveEntry::folder(top + "/Contents/MacOS"),
            ArchiveEntry::file(top + "/Contents/Info.plist", test::infoPlist(info)),
            ArchiveEntry::file(top + "/Contents/MacOS/vorlik", "#!/bin/sh\necho new\n", 0755),
            ArchiveEntry::file(top + "/Contents/Resources/CHANGELOG.md", "# notes\n"),
            ArchiveEntry::symlink(top + "/Contents/Resources/current", "CHANGELOG.md")};
}

Manifest manifest()
{
    Manifest m;
    m.version = QStringLiteral("1.2.25");
    m.build = 28;
    return m;
}

class StagingTest : public test::PrivateTemp {
protected:
    QString image(ArchiveFormat format, const std::vector<ArchiveEntry> &entries)
    {
        const QString path = m_images.filePath(QStringLiteral("image-%1").arg(++m_count));
        test::writeArchive(path, format, entries);
        return path;
    }
    UpdateManager::StagedApp stage(const QString &dmg)
    {
        return test::run(UpdateManager::prepareStagedApp(manifest(), dmg));
    }
    std::optional<UpdateError> failure(const QString &dmg)
    {
        try {
            stage(dmg);
        } catch (const UpdateError &error) {
            return error;
        }
        return std::nullopt;
    }
    QStringList stagingFolders() const
    {
        return QDir(vorlik::platform::AppPaths::updates()).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    }
    void SetUp() override
    {
        PrivateTemp::SetUp();
        QDir(vorlik::platform::AppPaths::updates()).removeRecursively();
        test::takeUpdateLogLines();
    }

    QTemporaryDir m_images;
    int m_count = 0;
};

TEST_F(StagingTest, CopiesTheCheckedBundleToAFreshStagingFolderAndDetaches)
{
    for (const ArchiveFormat format : {ArchiveFormat::tarGzip, ArchiveFormat::zip}) {
        const UpdateManager::StagedApp staged = stage(image(format, bundleEntries()));
        EXPECT_EQ(QFileInfo(staged.stagingDir).absolutePath(), vorlik::platform::AppPaths::updates());
        EXPECT_EQ(staged.stagedApp, staged.stagingDir + QStringLiteral("/Vorlik Desktop.app"));
        const QString program = staged.stagedApp + QStringLiteral("/Contents/MacOS/vorlik");
        EXPECT_EQ(test::readFile(program), "#!/bin/sh\necho new\n");
        EXPECT_TRUE(QFileInfo(program).isExecutable());
        // The copy is the owner's to replace later, although the image was read-only.
        EXPECT_TRUE(QFileInfo(program).permission(QFileDevice::WriteOwner));
        EXPECT_EQ(QFileInfo(staged.stagedApp + QStringLiteral("/Contents/Resources/current")).symLinkTarget(),
                  staged.stagedApp + QStringLiteral("/Contents/Resources/CHANGELOG.md"));
        EXPECT_EQ(test::tempEntries(QStringLiteral("vorlik-image-")), QStringList());
    }
    EXPECT_EQ(stagingFolders().size(), 2);
}

TEST_F(StagingTest, AnAttachedImageIsReadOnlyAndPrivate)
{
    const std::optional<QString> mounted = DiskImage::attach(image(ArchiveFormat::tarGzip, bundleEntries()));
    ASSERT_TRUE(mounted.has_value());
    EXPECT_EQ(QFileInfo(*mounted).permissions() & (QFileDevice::ReadGroup | QFileDevice::ReadOther), 0);
    const QString plist = *mounted + QStringLiteral("/Vorlik Desktop.app/Contents/Info.plist");
    EXPECT_FALSE(QFileInfo(plist).permission(QFileDevice::WriteOwner));
    EXPECT_FALSE(QFileInfo(*mounted + QStringLiteral("/Vorlik Desktop.app/Contents")).permission(QFileDevice::WriteOwner));
    EXPECT_TRUE(UpdateManager::unmount(*mounted));
    EXPECT_FALSE(QFileInfo::exists(*mounted));
}

TEST_F(StagingTest, AnImageWithoutTheBundleIsCode6)
{
    const QList<QString> images{
        image(ArchiveFormat::tarGzip, bundleEntries({}, "Other.app")),
        image(ArchiveFormat::zip, {ArchiveEntry::file("Vorlik Desktop.app", "a file, not a bundle")}),
        image(ArchiveFormat::zip, {ArchiveEntry::file("README", "empty image")}),
    };
    for (const QString &dmg : images) {
        const auto error = failure(dmg);
        ASSERT_TRUE(error.has_value());
        EXPECT_EQ(error->code(), 6);
        EXPECT_EQ(error->description(), QStringLiteral("The update disk image has no app bundle."));
    }
    EXPECT_EQ(stagingFolders(), QStringList());
    EXPECT_EQ(test::tempEntries(QStringLiteral("vorlik-image-")), QStringList());
}

TEST_F(StagingTest, AForeignOrMismatchedBundleIsRefusedBeforeCopying)
{
    test::BundleInfo foreign;
    foreign.identifier = QStringLiteral("com.example.trojan");
    test::BundleInfo older;
    older.shortVersion = QStringLiteral("1.2.24");
    test::BundleInfo binaryOK;
    binaryOK.binary = true;
    EXPECT_EQ(failure(image(ArchiveFormat::tarGzip, bundleEntries(foreign)))->code(), 8);
    EXPECT_EQ(failure(image(ArchiveFormat::tarGzip, bundleEntries(older)))->code(), 9);
    EXPECT_FALSE(failure(image(ArchiveFormat::tarGzip, bundleEntries(binaryOK))).has_value());
    EXPECT_EQ(stagingFolders().size(), 1);
    EXPECT_EQ(test::tempEntries(QStringLiteral("vorlik-image-")), QStringList());
}

TEST_F(StagingTest, HostileOrUnreadableImagesCannotBeOpened)
{
    std::vector<ArchiveEntry> slip = bundleEntries();
    slip.push_back(ArchiveEntry::file("../../evil", "x"));
    std::vector<ArchiveEntry> linkOut = bundleEntries();
    linkOut.push_back(ArchiveEntry::symlink("Vorlik Desktop.app/Contents/Frameworks", "/usr/lib"));
    std::vector<ArchiveEntry> hardLink = bundleEntries();
    hardLink.push_back(ArchiveEntry::hardlink("Vorlik Desktop.app/Contents/passwd", "/etc/passwd"));
    const QString garbage = m_images.filePath(QStringLiteral("garbage"));
    test::writeFile(garbage, "<html>not an image</html>");

    for (const QString &dmg : {image(ArchiveFormat::zip, slip), image(ArchiveFormat::tarGzip, linkOut),
                               image(ArchiveFormat::tarGzip, hardLink), garbage,
                               m_images.filePath(QStringLiteral("missing"))}) {
        const auto error = failure(dmg);
        ASSERT_TRUE(error.has_value());
        EXPECT_EQ(error->code(), 5);
        EXPECT_EQ(error->description(), QStringLiteral("Could not open the update disk image."));
    }
    const QStringList lines = test::takeUpdateLogLines();
    ASSERT_EQ(lines.size(), 5);
    EXPECT_TRUE(lines.first().startsWith(QStringLiteral("update image not opened: Refused the archive entry \"../../evil\"")))
        << lines.first().toStdString();
    EXPECT_EQ(stagingFolders(), QStringList());
    EXPECT_EQ(test::tempEntries(QStringLiteral("vorlik-image-")), QStringList());
    EXPECT_FALSE(QFileInfo::exists(m_temp.filePath(QStringLiteral("../evil"))));
}

TEST_F(StagingTest, AnUpdatesFolderThatCannotBeMadeFailsAndStillDetaches)
{
    QDir().mkpath(QFileInfo(vorlik::platform::AppPaths::updates()).absolutePath());
    test::writeFile(vorlik::platform::AppPaths::updates(), "a file where the folder belongs");
    try {
        stage(image(ArchiveFormat::tarGzip, bundleEntries()));
        ADD_FAILURE() << "staged into a file";
    } catch (const std::exception &error) {
        EXPECT_TRUE(vorlik::describe(error).startsWith(QStringLiteral("Could not create the folder ")))
            << vorlik::describe(error).toStdString();
    }
    EXPECT_EQ(test::tempEntries(QStringLiteral("vorlik-image-")), QStringList());
    QFile::remove(vorlik::platform::AppPaths::updates());
}

} // namespace
