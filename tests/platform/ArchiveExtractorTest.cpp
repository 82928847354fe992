#include "platform/ArchiveError.h"
#include "platform/ArchiveExtractor.h"
#include "tests/support/TestArchive.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QDirIterator>
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
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 ? int(info.st_mode & 07777) : -1;
}

// <scratch>/archive and the folder <scratch>/inside/x to unpack into; anything that escapes
// would land in <scratch>/inside or <scratch>.
class ArchiveExtractorTest : public ::testing::Test {
protected:
    QString archive() const { return m_scratch.filePath("archive"); }
    QString target(const QString &name = {}) const { return m_scratch.filePath("inside/x/" + name); }
    void extract(ArchiveFormat format, const std::vector<ArchiveEntry> &entries)
    {
        QDir(m_scratch.filePath("inside")).removeRecursively();
        ASSERT_TRUE(QDir().mkpath(target()));
        vorlik::test::writeArchive(archive(), format, entries);
        ArchiveExtractor::extract(archive(), target());
    }

    QTemporaryDir m_scratch;
};

// (Both formats, with the folders, executables and inside links of an update image: the staging tests.)
TEST_F(ArchiveExtractorTest, KeepsExecutableBitsAndInsideLinksDropsSetIdBitsAndKeepsTheFirstOfARepeatedName)
{
    extract(ArchiveFormat::tarGzip, {ArchiveEntry::file("suid", "x", 04755), ArchiveEntry::file("locked", "y", 0000),
                                     ArchiveEntry::folder("sealed", 0500), ArchiveEntry::file("ffmpeg", "first", 0755),
                                     ArchiveEntry::file("ffmpeg", "second", 0755), ArchiveEntry::symlink("tool", "ffmpeg")});
    EXPECT_EQ(modeOf(target("suid")), 0755);
    EXPECT_EQ(modeOf(target("locked")), 0400); // the owner can always read
    EXPECT_EQ(modeOf(target("sealed")), 0700);
    EXPECT_EQ(vorlik::test::readFile(target("ffmpeg")), "first");
    EXPECT_EQ(QFileInfo(target("tool")).symLinkTarget(), target("ffmpeg"));
}

TEST_F(ArchiveExtractorTest, HostileArchivesAreRefusedAndWriteNothingOutside)
{
    using enum ArchiveFormat;
    using E = ArchiveEntry;
    const struct { const char *name; ArchiveFormat format; std::vector<ArchiveEntry> entries; const char *reason; } cases[] = {
        {"zip slip", zip, {E::file("../../evil", "x")}, "a \"..\" component"},
        {"zip slip after a good entry", zip, {E::file("ok", "fine"), E::file("sub/../../evil", "x")}, "a \"..\" component"},
        {"tar slip", tarGzip, {E::file("a/../../../evil", "x")}, "a \"..\" component"},
        {"absolute path", tarGzip, {E::file("/tmp/evil-from-archive-test", "x")}, "an absolute path"},
        {"absolute zip path", zip, {E::file("/tmp/evil-from-archive-test", "x")}, "an absolute path"},
        {"link to an absolute place", zip, {E::symlink("evil", "/etc")}, "a link that leads out"},
        {"link climbing out", tarGzip, {E::symlink("evil", "../../..")}, "a link that leads out"},
        {"link with a climb inside it", tarGzip, {E::folder("d"), E::symlink("d/evil", "e/../../x")}, "a link that leads out"},
        {"write through a link", tarGzip, {E::folder("real"), E::symlink("link", "real"), E::file("link/evil", "x")}, "Could not unpack"},
        {"hard link", tarGzip, {E::file("target", "x"), E::hardlink("evil", "target")}, "a hard link"},
        {"hard link out", tarGzip, {E::hardlink("evil", "/etc/passwd")}, "a hard link"},
        {"pipe", tarGzip, {E::fifo("evil")}, "a device, pipe or socket"},
    };
    for (const auto &hostile : cases) {
        SCOPED_TRACE(hostile.name);
        try {
            extract(hostile.format, hostile.entries);
            ADD_FAILURE() << "extracted";
        } catch (const ArchiveError &error) {
            EXPECT_TRUE(error.description().contains(hostile.reason)) << error.description().toStdString();
        }
        // Nothing next to the target folder or above it, and no file named "evil" anywhere.
        for (QDirIterator it(m_scratch.filePath("inside"), QDir::AllEntries | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
             it.hasNext();)
            EXPECT_FALSE(it.next().contains("evil")) << it.filePath().toStdString();
        EXPECT_EQ(QDir(m_scratch.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot, QDir::Name),
                  (QStringList{"archive", "inside"}));
        EXPECT_FALSE(QFileInfo::exists("/tmp/evil-from-archive-test"));
    }
}

TEST_F(ArchiveExtractorTest, NoArchiveOrNoDestinationIsAClearError)
{
    ASSERT_TRUE(QDir().mkpath(target()));
    vorlik::test::writeFile(archive(), "this is not an archive at all");
    try {
        ArchiveExtractor::extract(archive(), target());
        ADD_FAILURE() << "extracted text";
    } catch (const ArchiveError &error) {
        EXPECT_TRUE(error.description().startsWith("Could not open the archive ")) << error.description().toStdString();
    }
    EXPECT_EQ(QDir(target()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList());
    vorlik::test::writeArchive(archive(), ArchiveFormat::zip, {ArchiveEntry::file("a", "b")});
    EXPECT_THROW(ArchiveExtractor::extract(archive(), m_scratch.filePath("nowhere")), ArchiveError);
}

} // namespace
