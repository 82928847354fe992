#include "RunnerFixture.h"

#include "convert/OutputName.h"

#include <QFile>

using namespace vorlik;
using namespace vorlik::test;
using convert::ConvertRunner;
using convert::OutputName;

namespace {

class ConvertQueue : public RunnerFixture {};

const QString loudness = u"normalise-14lufs"_s;
const QString m4a = u"audio-m4a"_s;

} // namespace

TEST_F(ConvertQueue, AddsTheMediaFilesOfAFolderWithTheirOwnFolder)
{
    const QString a = tone("a/Take 2.wav");
    const QString b = tone("a/sub/Take 10.flac");
    writeFile(path("a/notes.txt"), "not media");
    ConvertRunner runner;
    int itemSignals = 0;
    QObject::connect(&runner, &ConvertRunner::itemsChanged, [&] { ++itemSignals; });
    runner.queue(QStringList{path("a")}, loudness);
    EXPECT_EQ(runner.statusLine(), "2 files added to the queue.");
    EXPECT_EQ(itemSignals, 1);
    ASSERT_EQ(runner.items().size(), 2); // "Take 2" before "Take 10", each with its own folder
    EXPECT_EQ((QStringList{runner.items()[0].input, runner.items()[0].destination, runner.items()[1].input, runner.items()[1].destination}),
              (QStringList{a, path("a"), b, path("a/sub")}));
    EXPECT_EQ(runner.items()[1].status, "Queued");
    EXPECT_TRUE(runner.items()[1].isPending());
    EXPECT_NE(runner.items()[0].id, runner.items()[1].id);

    // On an idle runner unknown ids and a stop do nothing, and Clear keeps what is pending (the
    // page's row test removes rows).
    runner.remove(QUuid::createUuid());
    runner.retry(QUuid::createUuid());
    runner.clearFinished();
    runner.cancel();
    EXPECT_EQ(runner.items().size(), 2);
    EXPECT_EQ(runner.runState(), ConvertRunner::RunState::idle);
    EXPECT_EQ(runner.statusLine(), "2 files added to the queue.");
}

// Nothing given says nothing; nothing new (no media, an address that is no file, the same file
// for the same preset and export folder) adds nothing.
TEST_F(ConvertQueue, OnlyNewMediaIsAddedAndTheSameFileOncePerPresetAndExportFolder)
{
    ConvertRunner runner;
    runner.setStatusLine("before");
    runner.queue(QStringList{}, loudness);
    EXPECT_EQ(runner.statusLine(), QString());
    writeFile(path("notes.txt"), "x");
    runner.queue(QStringList{path("notes.txt"), folder("empty")}, loudness);
    EXPECT_EQ(runner.statusLine(), "Nothing new to add.");
    runner.queue(QList<QUrl>{QUrl("https://example.invalid/a.wav")}, loudness);
    EXPECT_EQ(runner.statusLine(), "Nothing new to add.");
    EXPECT_FALSE(runner.hasPending());

    const QString file = tone("Take 1.wav");
    for (const QString &preset : {loudness, loudness, m4a})
        runner.queue(QList<QUrl>{QUrl::fromLocalFile(file)}, preset);
    ASSERT_EQ(runner.items().size(), 2);
    EXPECT_EQ(runner.items(m4a).first().id, runner.items()[1].id);
    EXPECT_TRUE(runner.items("other").isEmpty());
    exportTo(folder("out"));
    runner.queue(QStringList{file}, loudness);
    ASSERT_EQ(runner.items().size(), 3);
    EXPECT_EQ(runner.items()[2].destination, path("out"));
}

// The export folder counts when the files are queued: without a valid one every file is skipped
// and the line says only that; a valid one (surrounding white space aside) takes them.
TEST_F(ConvertQueue, WithoutAValidExportFolderEveryFileIsSkipped)
{
    const QStringList files{tone("a.wav"), tone("b.wav"), tone("c.wav")};
    writeFile(path("plain-file"), "not a folder");
    ConvertRunner runner;
    runner.queue(QStringList{files[0]}, loudness);
    for (const QString &invalid : {u"<missing>"_s, QString(), u" \t "_s, path("nowhere"), path("plain-file")}) {
        SCOPED_TRACE(invalid.toStdString());
        exportTo(invalid);
        if (invalid == "<missing>")
            platform::Settings::standard().remove("exportFolderPath");
        runner.queue(files, loudness);
        EXPECT_EQ(runner.statusLine(), "3 files skipped — choose a valid export folder in Preferences.");
        runner.queue(QStringList{files[1]}, loudness);
        EXPECT_EQ(runner.statusLine(), "1 file skipped — choose a valid export folder in Preferences.");
        EXPECT_EQ(runner.items().size(), 1);
    }
    exportTo(" \t" + folder("out") + "\t ");
    runner.queue(QStringList{files[1], files[2]}, loudness);
    EXPECT_EQ(runner.statusLine(), "2 files added to the queue.");
    ASSERT_EQ(runner.items().size(), 3);
    EXPECT_EQ(runner.items()[0].destination, m_dir.path());
    EXPECT_EQ(runner.items()[1].destination, path("out"));
}

TEST_F(ConvertQueue, TheStemLosesOnlyTheLastExtensionAndTheFirstFreeNameSkipsFilesFoldersAndDanglingLinks)
{
    const QList<std::pair<QString, QString>> cases{{"Take 1.flac", "Take 1"},     {"archive.tar.gz", "archive.tar"},
                                                   {"no extension", "no extension"}, {".hidden", ".hidden"},
                                                   {".x.wav", ".x"},               {"caf\u00E9 \U0001F3B5.m4a", "caf\u00E9 \U0001F3B5"}};
    for (const auto &[name, stem] : cases)
        EXPECT_EQ(OutputName::stem(name), stem);
    const QString dir = folder("names");
    const auto firstFree = [&] { return OutputName::firstFree(dir, "Take 1_norm", ".wav"); };
    EXPECT_EQ(firstFree(), dir + "/Take 1_norm.wav");
    writeFile(dir + "/Take 1_norm.wav", "user 0");
    writeFile(dir + "/Take 1_norm (1).wav", "user 1");
    EXPECT_EQ(firstFree(), dir + "/Take 1_norm (2).wav");
    QDir().mkpath(dir + "/Take 1_norm (2).wav");
    ASSERT_TRUE(QFile::link(dir + "/nowhere", dir + "/Take 1_norm (3).wav"));
    EXPECT_EQ(firstFree(), dir + "/Take 1_norm (4).wav");
    // The root folder has no separator doubled.
    EXPECT_EQ(OutputName::firstFree("/", "no such name here", ".wav"), "/no such name here.wav");
}
