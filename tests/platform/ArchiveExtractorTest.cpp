// Unpacking archives with libarchive: what is kept (folders, executable bits, links inside)
// and what is refused (anything that would land outside the folder), on real files.
#include "platform/ArchiveError.h"
#include "platform/ArchiveExtractor.h"
#include "tests/support/TestArchive.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <sys/stat.h>

using vorlik::platform::ArchiveError;
using vorlik::platform::ArchiveExtractor;
using vorlik::test::ArchiveEntry;
using vorlik::test::ArchiveFormat;

namespace {

int modeOf(const QString &path)
{
    struct stat info {};
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0)
        return -1;
    return int(info.st_mode & 07777);
}

QStringList everythingBelow(const QString &folder)
{
    QStringList found;
    const QDir root(folder);
    std::function<void(const QString &)> walk = [&](const QString &at) {
        for (const QFileInfo &entry : QDir(at).entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System
                                                             | QDir::NoDotAndDotDot, QDir::Name)) {
            found << root.relativeFilePath(entry.filePath());
            if (entry.isDir() && !entry.isSymLink())
                walk(entry.filePath());
        }
    };
    walk(folder);
    return found;
}

class ArchiveExtractorTest : public ::testing::Test {
protected:
    // <scratch>/archive and the folder <scratch>/inside/x to unpack into; anything that escapes
    // would land in <scratch>/inside or <scratch>.
    void SetUp() override { ASSERT_TRUE(QDir().mkpath(target())); }
    QString archive() const { return m_scratch.filePath(QStringLiteral("archive")); }
    QString target() const { return m_scratch.filePath(QStringLiteral("inside/x")); }

    void extract(ArchiveFormat format, const std::vector<ArchiveEntry> &entries)
    {
        vorlik::test::writeArchive(archive(), format, entries);
        ArchiveExtractor::extract(archive(), target());
    }

    QTemporaryDir m_scratch;
};

TEST_F(ArchiveExtractorTest, UnpacksFoldersFilesAndInsideLinksKeepingExecutableBits)
{
    for (const ArchiveFormat format : {ArchiveFormat::zip, ArchiveFormat::tarGzip}) {
        QDir(target()).removeRecursively();
        QDir().mkpath(target());
        extract(format, {ArchiveEntry::folder("App.app/Contents/MacOS"),
                         ArchiveEntry::file("App.app/Contents/MacOS/tool", "#!/bin/sh\necho hi\n", 0755),
                         ArchiveEntry::file("App.app/Contents/Info.plist", "<plist/>", 0644),
                         ArchiveEntry::symlink("App.app/Contents/Current", "MacOS/tool")});
        const QString tool = target() + QStringLiteral("/App.app/Contents/MacOS/tool");
        EXPECT_EQ(vorlik::test::readFile(tool), "#!/bin/sh\necho hi\n");
        EXPECT_EQ(modeOf(tool), 0755);
        EXPECT_EQ(modeOf(target() + QStringLiteral("/App.app/Contents/Info.plist")), 0644);
        EXPECT_EQ(QFileInfo(target() + QStringLiteral("/App.app/Contents/Current")).symLinkTarget(), tool);
    }
}

TEST_F(ArchiveExtractorTest, SetIdBitsAreDroppedAndTheOwnerCanAlwaysRead)
{
    extract(ArchiveFormat::tarGzip, {ArchiveEntry::file("suid", "x", 04755), ArchiveEntry::file("locked", "y", 0000),
                                     ArchiveEntry::folder("sealed", 0500)});
    EXPECT_EQ(modeOf(target() + QStringLiteral("/suid")), 0755);
    EXPECT_EQ(modeOf(target() + QStringLiteral("/locked")), 0400);
    EXPECT_EQ(modeOf(target() + QStringLiteral("/sealed")), 0700);
}

struct Hostile {
    const char *name;
    ArchiveFormat format;
    std::vector<ArchiveEntry> entries;
    const char *reason;
};

class HostileArchive : public ArchiveExtractorTest, public ::testing::WithParamInterface<Hostile> {};

TEST_P(HostileArchive, IsRefusedAndWritesNothingOutside)
{
    const Hostile &hostile = GetParam();
    vorlik::test::writeArchive(archive(), hostile.format, hostile.entries);
    try {
        ArchiveExtractor::extract(archive(), target());
        FAIL() << "extracted " << hostile.name;
    } catch (const ArchiveError &error) {
        EXPECT_TRUE(error.description().contains(QString::fromUtf8(hostile.reason)))
            << error.description().toStdString();
    }
    // Nothing next to the target folder or above it, and no file named "evil" anywhere.
    EXPECT_EQ(everythingBelow(m_scratch.filePath(QStringLiteral("inside"))).filter(QStringLiteral("evil")), QStringList());
    EXPECT_EQ(QDir(m_scratch.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot, QDir::Name),
              (QStringList{QStringLiteral("archive"), QStringLiteral("inside")}));
    EXPECT_FALSE(QFileInfo::exists(QStringLiteral("/tmp/evil-from-archive-test")));
}

INSTANTIATE_TEST_SUITE_P(
    Refusals, HostileArchive,
    ::testing::Values(
        Hostile{"zip slip", ArchiveFormat::zip, {ArchiveEntry::file("../../evil", "x")}, "a \"..\" component"},
        Hostile{"zip slip after a good entry", ArchiveFormat::zip,
                {ArchiveEntry::file("ok", "fine"), ArchiveEntry::file("sub/../../evil", "x")}, "a \"..\" component"},
        Hostile{"tar slip", ArchiveFormat::tarGzip, {ArchiveEntry::file("a/../../../evil", "x")}, "a \"..\" component"},
        Hostile{"absolute path", ArchiveFormat::tarGzip, {ArchiveEntry::file("/tmp/evil-from-archive-test", "x")},
                "an absolute path"},
        Hostile{"absolute zip path", ArchiveFormat::zip, {ArchiveEntry::file("/tmp/evil-from-archive-test", "x")},
                "an absolute path"},
        Hostile{"link to an absolute place", ArchiveFormat::zip, {ArchiveEntry::symlink("evil", "/etc")},
                "a link that leads out"},
        Hostile{"link climbing out", ArchiveFormat::tarGzip, {ArchiveEntry::symlink("evil", "../../..")},
                "a link that leads out"},
        Hostile{"link with a climb inside it", ArchiveFormat::tarGzip,
                {ArchiveEntry::folder("d"), ArchiveEntry::symlink("d/evil", "e/../../x")}, "a link that leads out"},
        Hostile{"write through a link", ArchiveFormat::tarGzip,
                {ArchiveEntry::folder("real"), ArchiveEntry::symlink("link", "real"),
                 ArchiveEntry::file("link/evil", "x")},
                "Could not unpack"},
        Hostile{"hard link", ArchiveFormat::tarGzip,
                {ArchiveEntry::file("target", "x"), ArchiveEntry::hardlink("evil", "target")}, "a hard link"},
        Hostile{"hard link out", ArchiveFormat::tarGzip, {ArchiveEntry::hardlink("evil", "/etc/passwd")}, "a hard link"},
        Hostile{"pipe", ArchiveFormat::tarGzip, {ArchiveEntry::fifo("evil")}, "a device, pipe or socket"}),
    [](const ::testing::TestParamInfo<Hostile> &info) {
        std::string name = info.param.name;
        for (char &c : name)
            if (!std::isalnum(static_cast<unsigned char>(c)))
                c = '_';
        return name;
    });

TEST_F(ArchiveExtractorTest, SomethingThatIsNotAnArchiveIsAClearError)
{
    vorlik::test::writeFile(archive(), "this is not an archive at all");
    try {
        ArchiveExtractor::extract(archive(), target());
        FAIL() << "extracted text";
    } catch (const ArchiveError &error) {
        EXPECT_TRUE(error.description().startsWith(QStringLiteral("Could not open the archive ")))
            << error.description().toStdString();
    }
    EXPECT_EQ(everythingBelow(target()), QStringList());
}

TEST_F(ArchiveExtractorTest, AMissingDestinationIsRefused)
{
    vorlik::test::writeArchive(archive(), ArchiveFormat::zip, {ArchiveEntry::file("a", "b")});
    EXPECT_THROW(ArchiveExtractor::extract(archive(), m_scratch.filePath(QStringLiteral("nowhere"))), ArchiveError);
}

TEST_F(ArchiveExtractorTest, ARepeatedNameKeepsTheFirstEntry)
{
    extract(ArchiveFormat::tarGzip, {ArchiveEntry::file("ffmpeg", "first", 0755), ArchiveEntry::file("ffmpeg", "second", 0755)});
    EXPECT_EQ(vorlik::test::readFile(target() + QStringLiteral("/ffmpeg")), "first");
}

} // namespace
