// Expanding drops into media files, on real folders.
#include "convert/MediaScanner.h"
#include "tests/support/TestFiles.h"

#include "TestMedia.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

using vorlik::convert::MediaScanner;

namespace {

class MediaScannerTest : public ::testing::Test {
protected:
    QString path(const QString &relative) const { return m_dir.filePath(relative); }

    QString touch(const QString &relative) const
    {
        const QString full = path(relative);
        QDir().mkpath(QFileInfo(full).path());
        vorlik::test::writeFile(full, "x");
        return full;
    }

    QString folder(const QString &relative) const
    {
        QDir().mkpath(path(relative));
        return path(relative);
    }

    // Names relative to the test folder, for readable expectations.
    QStringList relative(const QStringList &paths) const
    {
        QStringList result;
        for (const QString &p : paths)
            result.append(QDir(m_dir.path()).relativeFilePath(p));
        return result;
    }

    QStringList scan(const QStringList &given, const QSet<QString> &set = MediaScanner::mediaExtensions()) const
    {
        return relative(MediaScanner::collect(given, set));
    }

    QTemporaryDir m_dir;
};

} // namespace

TEST_F(MediaScannerTest, OrdersNamesLikeAFileBrowser)
{
    touch("a/Take 10.wav");
    touch("a/take 2.wav");
    touch("a/Take 1.wav");
    touch("a/file10.mp3");
    touch("a/file2.mp3");
    touch("a/File1.mp3");
    EXPECT_EQ(scan({path("a")}), (QStringList{"a/File1.mp3", "a/file2.mp3", "a/file10.mp3", "a/Take 1.wav",
                                             "a/take 2.wav", "a/Take 10.wav"}));
}

TEST_F(MediaScannerTest, AccentsCountAfterLettersButCaseDoesNot)
{
    touch(QStringLiteral("c/cafes.wav"));
    touch(QStringLiteral("c/Caf\u00E9.wav"));
    touch(QStringLiteral("c/cafe.wav"));
    touch(QStringLiteral("c/CAFE 2.wav"));
    touch(QStringLiteral("c/cafe 10.wav"));
    EXPECT_EQ(scan({path("c")}), (QStringList{QStringLiteral("c/CAFE 2.wav"),
                                             QStringLiteral("c/cafe 10.wav"), QStringLiteral("c/cafe.wav"),
                                             QStringLiteral("c/Caf\u00E9.wav"), QStringLiteral("c/cafes.wav")}));
}

TEST_F(MediaScannerTest, EqualNamesKeepTheOrderFound)
{
    touch("b/clip.wav");
    touch("a/clip.wav");
    touch("a/CLIP.wav");
    // Dropped b first: its file is found first; within a folder entries are read in a fixed order.
    EXPECT_EQ(scan({path("b"), path("a")}), (QStringList{"b/clip.wav", "a/CLIP.wav", "a/clip.wav"}));
}

TEST_F(MediaScannerTest, MatchesTheLastExtensionInAnyCase)
{
    const QString upper = touch("TAKE.WAV");
    const QString doubled = touch("archive.tar.mp4");
    const QString none = touch("README");
    const QString other = touch("notes.txt");
    const QString trailingDot = touch("odd.");
    EXPECT_EQ(scan({upper, doubled, none, other, trailingDot}), (QStringList{"archive.tar.mp4", "TAKE.WAV"}));
}

TEST_F(MediaScannerTest, EachSetHasItsOwnMembers)
{
    const QString video = touch("v.mkv");
    const QString opus = touch("a.opus");
    EXPECT_EQ(scan({video, opus}, MediaScanner::audioExtensions()), QStringList{"a.opus"});
    EXPECT_EQ(scan({video, opus}, MediaScanner::mediaExtensions()), QStringList{"v.mkv"});
    EXPECT_EQ(MediaScanner::mediaExtensions().size(), 15);
    EXPECT_EQ(MediaScanner::audioExtensions().size(), 18);
}

TEST_F(MediaScannerTest, SkipsMacArchiveLeftoversAndHiddenEntries)
{
    touch("zip/Song.wav");
    touch("zip/__MACOSX/zip/._Song.wav");
    touch("zip/__MACOSX/Other.wav");
    touch("zip/._Song.wav");
    touch("zip/.DS_Store");
    touch("zip/.hidden.wav");
    touch("zip/.cache/inside.wav");
    touch("zip/deep/er/Deep.flac");
    EXPECT_EQ(scan({path("zip")}), (QStringList{"zip/deep/er/Deep.flac", "zip/Song.wav"}));
}

TEST_F(MediaScannerTest, AFolderInsideMacArchiveLeftoversYieldsNothing)
{
    touch("zip/__MACOSX/inner/Other.wav");
    EXPECT_TRUE(scan({path("zip/__MACOSX/inner")}).isEmpty());
}

TEST_F(MediaScannerTest, PackagesAreSingleEntries)
{
    touch("drop/Project.fcpbundle/Media/clip.mov");
    touch("drop/Player.app/Contents/Resources/intro.mp4");
    touch("drop/Library.PhotosLibrary/originals/a.mov");
    touch("drop/Folder.mov/inside.mov"); // a plain folder that happens to have a media name
    touch("drop/real.mov");
    EXPECT_EQ(scan({path("drop")}), (QStringList{"drop/Folder.mov/inside.mov", "drop/real.mov"}));
    // Dropped on its own, a package is walked: the user asked for it.
    EXPECT_EQ(scan({path("drop/Project.fcpbundle")}), QStringList{"drop/Project.fcpbundle/Media/clip.mov"});
}

TEST_F(MediaScannerTest, DuplicatesAppearOnce)
{
    const QString song = touch("f/song.wav");
    touch("f/sub/other.wav");
    EXPECT_EQ(scan({path("f"), song, path("f/"), path("f/sub/../sub"), song}),
              (QStringList{"f/sub/other.wav", "f/song.wav"}));
}

TEST_F(MediaScannerTest, SymbolicLinkLoopsEndAndLinkedFilesCount)
{
    touch("loop/a.wav");
    touch("elsewhere/b.wav");
    ASSERT_TRUE(QFile::link(path("loop"), path("loop/again")));          // a link to its own folder
    ASSERT_TRUE(QFile::link(path("elsewhere"), path("loop/linked-dir"))); // folders through links are not entered
    ASSERT_TRUE(QFile::link(path("elsewhere/b.wav"), path("loop/b-link.wav")));
    ASSERT_TRUE(QFile::link(path("nowhere.wav"), path("loop/broken.wav")));
    EXPECT_EQ(scan({path("loop")}), (QStringList{"loop/a.wav", "loop/b-link.wav"}));
}

TEST_F(MediaScannerTest, EmptyOrHiddenOnlyFoldersYieldNothing)
{
    folder("empty");
    touch("hidden/.a.wav");
    touch("hidden/._b.wav");
    EXPECT_TRUE(scan({path("empty"), path("hidden")}).isEmpty());
}

TEST_F(MediaScannerTest, AGivenFileIsNotCheckedForExistence)
{
    EXPECT_EQ(scan({path("not-there.flac"), path("not-there.doc")}), QStringList{"not-there.flac"});
}

TEST_F(MediaScannerTest, UnicodeNamesPassThrough)
{
    touch("u/\u00C9t\u00E9 \U0001F3B5.wav");
    touch("u/\u6771\u4EAC.m4a");
    const QStringList found = scan({path("u")});
    EXPECT_EQ(found.size(), 2);
    EXPECT_TRUE(found.contains(QStringLiteral("u/\u00C9t\u00E9 \U0001F3B5.wav")));
    EXPECT_TRUE(QFile::exists(path(found.first())));
}

TEST_F(MediaScannerTest, UrlsInAndOut)
{
    const QString song = touch("song.wav");
    const QList<QUrl> found = MediaScanner::collect(
        QList<QUrl>{QUrl::fromLocalFile(song), QUrl(QStringLiteral("https://example.invalid/x.wav"))},
        MediaScanner::mediaExtensions());
    EXPECT_EQ(found, QList<QUrl>{QUrl::fromLocalFile(song)});
}
