#include "convert/MediaScanner.h"
#include "tests/support/TestFiles.h"

#include "TestMedia.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <memory>

using vorlik::convert::MediaScanner;

namespace {

class MediaScannerTest : public ::testing::Test {
protected:
    QString path(const QString &relative) const { return m_dir->filePath(relative); }

    QString touch(const QString &relative) const
    {
        QDir().mkpath(QFileInfo(path(relative)).path());
        vorlik::test::writeFile(path(relative), "x");
        return path(relative);
    }

    // Names relative to the test folder, for readable expectations.
    QStringList scan(const QStringList &given, const QSet<QString> &set = MediaScanner::mediaExtensions()) const
    {
        QStringList result;
        for (const QString &p : MediaScanner::collect(given, set))
            result.append(QDir(m_dir->path()).relativeFilePath(p));
        return result;
    }

    std::unique_ptr<QTemporaryDir> m_dir = std::make_unique<QTemporaryDir>();
};

} // namespace

// Each case in a folder of its own: the files made, what is dropped, what is found in order.
TEST_F(MediaScannerTest, FindsTheMediaOfADropInAFileBrowsersOrder)
{
    const struct { const char *name; QStringList files; QStringList dropped; QStringList found; } cases[] = {
        {"names in a file browser's order",
         {"a/Take 10.wav", "a/take 2.wav", "a/Take 1.wav", "a/file10.mp3", "a/file2.mp3", "a/File1.mp3"},
         {"a"},
         {"a/File1.mp3", "a/file2.mp3", "a/file10.mp3", "a/Take 1.wav", "a/take 2.wav", "a/Take 10.wav"}},
        {"accents count after letters, case does not",
         {"c/cafes.wav", QStringLiteral("c/Caf\u00E9.wav"), "c/cafe.wav", "c/CAFE 2.wav", "c/cafe 10.wav"},
         {"c"},
         {"c/CAFE 2.wav", "c/cafe 10.wav", "c/cafe.wav", QStringLiteral("c/Caf\u00E9.wav"), "c/cafes.wav"}},
        // Dropped b first: its file is found first; within a folder entries are read in a fixed order.
        {"equal names keep the order found", {"b/clip.wav", "a/clip.wav", "a/CLIP.wav"}, {"b", "a"},
         {"b/clip.wav", "a/CLIP.wav", "a/clip.wav"}},
        {"the last extension in any case", {"TAKE.WAV", "archive.tar.mp4", "README", "notes.txt", "odd."},
         {"TAKE.WAV", "archive.tar.mp4", "README", "notes.txt", "odd."}, {"archive.tar.mp4", "TAKE.WAV"}},
        {"archive leftovers and hidden entries",
         {"zip/Song.wav", "zip/__MACOSX/zip/._Song.wav", "zip/__MACOSX/Other.wav", "zip/._Song.wav", "zip/.DS_Store",
          "zip/.hidden.wav", "zip/.cache/inside.wav", "zip/deep/er/Deep.flac"},
         {"zip"},
         {"zip/deep/er/Deep.flac", "zip/Song.wav"}},
        {"a folder inside archive leftovers", {"zip/__MACOSX/inner/Other.wav"}, {"zip/__MACOSX/inner"}, {}},
        // A plain folder that happens to have a media name is walked; a package is one entry.
        {"packages are single entries",
         {"drop/Project.fcpbundle/Media/clip.mov", "drop/Player.app/Contents/Resources/intro.mp4",
          "drop/Library.PhotosLibrary/originals/a.mov", "drop/Folder.mov/inside.mov", "drop/real.mov"},
         {"drop"},
         {"drop/Folder.mov/inside.mov", "drop/real.mov"}},
        // Dropped on its own, a package is walked: the user asked for it.
        {"a package dropped alone", {"drop/Project.fcpbundle/Media/clip.mov"}, {"drop/Project.fcpbundle"},
         {"drop/Project.fcpbundle/Media/clip.mov"}},
        {"duplicates appear once", {"f/song.wav", "f/sub/other.wav"}, {"f", "f/song.wav", "f/", "f/sub/../sub", "f/song.wav"},
         {"f/sub/other.wav", "f/song.wav"}},
        {"hidden-only folders", {"hidden/.a.wav", "hidden/._b.wav"}, {"hidden"}, {}},
        {"a given file is not checked for existence", {}, {"not-there.flac", "not-there.doc"}, {"not-there.flac"}},
        {"unicode names", {QStringLiteral("u/\u6771\u4EAC.m4a"), QStringLiteral("u/\u00C9t\u00E9 \U0001F3B5.wav")}, {"u"},
         {QStringLiteral("u/\u00C9t\u00E9 \U0001F3B5.wav"), QStringLiteral("u/\u6771\u4EAC.m4a")}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        m_dir = std::make_unique<QTemporaryDir>();
        for (const QString &file : c.files)
            touch(file);
        QStringList dropped;
        for (const QString &name : c.dropped)
            dropped.append(path(name));
        EXPECT_EQ(scan(dropped), c.found);
    }
}

TEST_F(MediaScannerTest, SymbolicLinkLoopsEndLinkedFilesCountAndEachSetAndAddressesHaveTheirOwnMembers)
{
    touch("loop/a.wav");
    touch("elsewhere/b.wav");
    ASSERT_TRUE(QFile::link(path("loop"), path("loop/again")));          // a link to its own folder
    ASSERT_TRUE(QFile::link(path("elsewhere"), path("loop/linked-dir"))); // folders through links are not entered
    ASSERT_TRUE(QFile::link(path("elsewhere/b.wav"), path("loop/b-link.wav")));
    ASSERT_TRUE(QFile::link(path("nowhere.wav"), path("loop/broken.wav")));
    EXPECT_EQ(scan({path("loop")}), (QStringList{"loop/a.wav", "loop/b-link.wav"}));

    // Each set of extensions has its own members; addresses come back as local files only.
    const QString video = touch("v.mkv");
    const QString opus = touch("a.opus");
    EXPECT_EQ(scan({video, opus}, MediaScanner::audioExtensions()), QStringList{"a.opus"});
    EXPECT_EQ(scan({video, opus}, MediaScanner::mediaExtensions()), QStringList{"v.mkv"});
    const QList<QUrl> found = MediaScanner::collect(QList<QUrl>{QUrl::fromLocalFile(video), QUrl("https://example.invalid/x.wav")},
                                                    MediaScanner::mediaExtensions());
    EXPECT_EQ(found, QList<QUrl>{QUrl::fromLocalFile(video)});
}
