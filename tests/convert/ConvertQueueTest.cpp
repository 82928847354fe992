// Queueing files with the convert runner, and the naming of outputs, on real folders.
#include "RunnerFixture.h"

#include "convert/OutputName.h"
#include "platform/Failure.h"

#include <QFile>
#include <QRegularExpression>

using namespace vorlik;
using namespace vorlik::test;
using convert::ConvertRunner;
using convert::OutputName;

namespace {

class ConvertQueue : public RunnerFixture {};

const QString loudness = QStringLiteral("normalise-14lufs");
const QString m4a = QStringLiteral("audio-m4a");

} // namespace

TEST_F(ConvertQueue, AddsTheMediaFilesOfAFolderWithTheirOwnFolder)
{
    const QString a = tone(QStringLiteral("a/Take 2.wav"));
    const QString b = tone(QStringLiteral("a/sub/Take 10.flac"));
    vorlik::test::writeFile(path(QStringLiteral("a/notes.txt")), "not media");
    ConvertRunner runner;
    int itemSignals = 0;
    QObject::connect(&runner, &ConvertRunner::itemsChanged, [&] { ++itemSignals; });

    runner.queue(QStringList{path(QStringLiteral("a"))}, loudness);
    EXPECT_EQ(runner.statusLine(), QStringLiteral("2 files added to the queue."));
    EXPECT_EQ(itemSignals, 1);
    ASSERT_EQ(runner.items().size(), 2);
    EXPECT_EQ(runner.items()[0].input, a); // "Take 2" before "Take 10"
    EXPECT_EQ(runner.items()[0].destination, path(QStringLiteral("a")));
    EXPECT_EQ(runner.items()[1].input, b);
    EXPECT_EQ(runner.items()[1].destination, path(QStringLiteral("a/sub")));
    for (const convert::QueueItem &item : runner.items()) {
        EXPECT_EQ(item.status, QStringLiteral("Queued"));
        EXPECT_EQ(item.presetID, loudness);
        EXPECT_TRUE(item.isPending());
        EXPECT_FALSE(item.output || item.errorDetail);
    }
    EXPECT_NE(runner.items()[0].id, runner.items()[1].id);
    EXPECT_TRUE(runner.hasPending());
    EXPECT_EQ(runner.runState(), ConvertRunner::RunState::idle);
}

TEST_F(ConvertQueue, TheSameFileForTheSamePresetIsAddedOnce)
{
    const QString file = tone(QStringLiteral("Take 1.wav"));
    ConvertRunner runner;
    runner.queue(QList<QUrl>{QUrl::fromLocalFile(file)}, loudness);
    EXPECT_EQ(runner.statusLine(), QStringLiteral("1 file added to the queue."));
    runner.queue(QList<QUrl>{QUrl::fromLocalFile(file)}, loudness);
    EXPECT_EQ(runner.statusLine(), QStringLiteral("Nothing new to add."));
    EXPECT_EQ(runner.items().size(), 1);

    // Another preset is another item.
    runner.queue(QList<QUrl>{QUrl::fromLocalFile(file)}, m4a);
    EXPECT_EQ(runner.statusLine(), QStringLiteral("1 file added to the queue."));
    ASSERT_EQ(runner.items().size(), 2);
    EXPECT_EQ(runner.items(loudness).size(), 1);
    EXPECT_EQ(runner.items(m4a).size(), 1);
    EXPECT_EQ(runner.items(m4a).first().id, runner.items()[1].id);
    EXPECT_TRUE(runner.items(QStringLiteral("other")).isEmpty());

    // Another export folder is another item too.
    const QString elsewhere = folder(QStringLiteral("out"));
    platform::Settings::standard().setValue(QStringLiteral("exportLocation"), QStringLiteral("customFolder"));
    platform::Settings::standard().setValue(QStringLiteral("exportFolderPath"), elsewhere);
    runner.queue(QStringList{file}, loudness);
    ASSERT_EQ(runner.items().size(), 3);
    EXPECT_EQ(runner.items()[2].destination, elsewhere);
}

TEST_F(ConvertQueue, NothingGivenSaysNothing)
{
    ConvertRunner runner;
    runner.setStatusLine(QStringLiteral("before"));
    runner.queue(QStringList{}, loudness);
    EXPECT_EQ(runner.statusLine(), QString());

    // Given, but nothing in it is media.
    vorlik::test::writeFile(path(QStringLiteral("notes.txt")), "x");
    runner.queue(QStringList{path(QStringLiteral("notes.txt")), folder(QStringLiteral("empty"))}, loudness);
    EXPECT_EQ(runner.statusLine(), QStringLiteral("Nothing new to add."));
    runner.queue(QList<QUrl>{QUrl(QStringLiteral("https://example.invalid/a.wav"))}, loudness);
    EXPECT_EQ(runner.statusLine(), QStringLiteral("Nothing new to add."));
    EXPECT_TRUE(runner.items().isEmpty());
    EXPECT_FALSE(runner.hasPending());
}

struct SkipCase {
    const char *name;
    QString exportFolderPath; // "<missing>" leaves the setting out
};

void PrintTo(const SkipCase &c, std::ostream *out) { *out << c.name; }

class ConvertQueueSkips : public ConvertQueue, public ::testing::WithParamInterface<SkipCase> {};

TEST_P(ConvertQueueSkips, WithoutAValidExportFolderEveryFileIsSkipped)
{
    const QStringList files{tone(QStringLiteral("a.wav")), tone(QStringLiteral("b.wav")), tone(QStringLiteral("c.wav"))};
    vorlik::test::writeFile(path(QStringLiteral("plain-file")), "not a folder");
    platform::Settings &settings = platform::Settings::standard();
    settings.setValue(QStringLiteral("exportLocation"), QStringLiteral("customFolder"));
    if (GetParam().exportFolderPath != QStringLiteral("<missing>"))
        settings.setValue(QStringLiteral("exportFolderPath"), QString(GetParam().exportFolderPath).replace(
                                                                  QStringLiteral("$DIR"), m_dir.path()));
    ConvertRunner runner;
    runner.queue(files, loudness);
    EXPECT_EQ(runner.statusLine(), QStringLiteral("3 files skipped — choose a valid export folder in Preferences."));
    EXPECT_TRUE(runner.items().isEmpty());

    runner.queue(QStringList{files.first()}, loudness);
    EXPECT_EQ(runner.statusLine(), QStringLiteral("1 file skipped — choose a valid export folder in Preferences."));
}

INSTANTIATE_TEST_SUITE_P(Cases, ConvertQueueSkips,
                         ::testing::Values(SkipCase{"missing", QStringLiteral("<missing>")},
                                           SkipCase{"empty", QString()},
                                           SkipCase{"spaces and tabs only", QStringLiteral(" \t ")},
                                           SkipCase{"no such folder", QStringLiteral("$DIR/nowhere")},
                                           SkipCase{"a file, not a folder", QStringLiteral("$DIR/plain-file")}),
                         [](const auto &info) { return std::to_string(info.index); });

TEST_F(ConvertQueue, TheExportFolderCountsWhenTheFilesAreQueued)
{
    const QString here = tone(QStringLiteral("a.wav"));
    ConvertRunner runner;
    runner.queue(QStringList{here}, loudness);
    platform::Settings::standard().setValue(QStringLiteral("exportLocation"), QStringLiteral("customFolder"));
    platform::Settings::standard().setValue(QStringLiteral("exportFolderPath"), path(QStringLiteral("gone")));
    runner.queue(QStringList{tone(QStringLiteral("b.wav"))}, loudness);
    EXPECT_EQ(runner.statusLine(), QStringLiteral("1 file skipped — choose a valid export folder in Preferences."));
    platform::Settings::standard().setValue(QStringLiteral("exportFolderPath"),
                                            QStringLiteral(" \t") + folder(QStringLiteral("out")) + QStringLiteral("\t "));
    runner.queue(QStringList{tone(QStringLiteral("c.wav")), tone(QStringLiteral("d.wav"))}, loudness);
    EXPECT_EQ(runner.statusLine(), QStringLiteral("2 files added to the queue."));
    ASSERT_EQ(runner.items().size(), 3);
    EXPECT_EQ(runner.items()[1].destination, path(QStringLiteral("out")));
}

TEST_F(ConvertQueue, ItemOperationsOfAnIdleRunner)
{
    const QString a = tone(QStringLiteral("a.wav"));
    const QString b = tone(QStringLiteral("b.wav"));
    const QString c = tone(QStringLiteral("c.wav"));
    ConvertRunner runner;
    runner.queue(QStringList{a, b, c}, loudness);
    const QUuid middle = runner.items()[1].id;
    runner.remove(middle);
    ASSERT_EQ(runner.items().size(), 2);
    EXPECT_EQ(runner.items()[0].input, a);
    EXPECT_EQ(runner.items()[1].input, c);
    runner.remove(QUuid::createUuid()); // not there: nothing happens
    runner.retry(QUuid::createUuid());
    EXPECT_EQ(runner.items().size(), 2);
    runner.clearFinished(); // everything is pending
    EXPECT_EQ(runner.items().size(), 2);
    runner.cancel(); // not running: nothing happens
    EXPECT_EQ(runner.runState(), ConvertRunner::RunState::idle);
    EXPECT_EQ(runner.statusLine(), QStringLiteral("3 files added to the queue."));
}

struct StemCase {
    QString name;
    QString stem;
};

class OutputStem : public ::testing::TestWithParam<StemCase> {};

TEST_P(OutputStem, RemovesOnlyTheLastExtension)
{
    EXPECT_EQ(OutputName::stem(GetParam().name), GetParam().stem);
}

INSTANTIATE_TEST_SUITE_P(Table, OutputStem,
                         ::testing::Values(StemCase{QStringLiteral("Take 1.flac"), QStringLiteral("Take 1")},
                                           StemCase{QStringLiteral("archive.tar.gz"), QStringLiteral("archive.tar")},
                                           StemCase{QStringLiteral("no extension"), QStringLiteral("no extension")},
                                           StemCase{QStringLiteral(".hidden"), QStringLiteral(".hidden")},
                                           StemCase{QStringLiteral(".x.wav"), QStringLiteral(".x")},
                                           StemCase{QStringLiteral("caf\u00E9 \U0001F3B5.m4a"),
                                                    QStringLiteral("caf\u00E9 \U0001F3B5")}),
                         [](const auto &info) { return std::to_string(info.index); });

TEST_F(ConvertQueue, TheFirstFreeNameSkipsFilesFoldersAndDanglingLinks)
{
    const QString dir = folder(QStringLiteral("names"));
    EXPECT_EQ(OutputName::firstFree(dir, QStringLiteral("Take 1_norm"), QStringLiteral(".wav")),
              dir + QStringLiteral("/Take 1_norm.wav"));
    vorlik::test::writeFile(dir + QStringLiteral("/Take 1_norm.wav"), "user 0");
    vorlik::test::writeFile(dir + QStringLiteral("/Take 1_norm (1).wav"), "user 1");
    EXPECT_EQ(OutputName::firstFree(dir, QStringLiteral("Take 1_norm"), QStringLiteral(".wav")),
              dir + QStringLiteral("/Take 1_norm (2).wav"));
    QDir().mkpath(dir + QStringLiteral("/Take 1_norm (2).wav"));
    ASSERT_TRUE(QFile::link(dir + QStringLiteral("/nowhere"), dir + QStringLiteral("/Take 1_norm (3).wav")));
    EXPECT_EQ(OutputName::firstFree(dir, QStringLiteral("Take 1_norm"), QStringLiteral(".wav")),
              dir + QStringLiteral("/Take 1_norm (4).wav"));
    // The extension is appended as it stands.
    EXPECT_EQ(OutputName::firstFree(dir, QStringLiteral("x"), QStringLiteral("_out.mp4")), dir + QStringLiteral("/x_out.mp4"));
}

TEST_F(ConvertQueue, TheTemporaryBaseIsHiddenAndUnique)
{
    const QString base = OutputName::temporaryBase(QStringLiteral("/m"), QStringLiteral("Take 1"));
    EXPECT_TRUE(QRegularExpression(QStringLiteral(R"(^/m/\.vorlik-tmp-[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}-Take 1$)"))
                    .match(base)
                    .hasMatch())
        << base.toStdString();
    EXPECT_NE(base, OutputName::temporaryBase(QStringLiteral("/m"), QStringLiteral("Take 1")));
    EXPECT_TRUE(OutputName::temporaryBase(QStringLiteral("/"), QStringLiteral("x")).startsWith(QStringLiteral("/.vorlik-tmp-")));
    EXPECT_EQ(OutputName::firstFree(QStringLiteral("/"), QStringLiteral("no such name here"), QStringLiteral(".wav")),
              QStringLiteral("/no such name here.wav"));
}

TEST_F(ConvertQueue, TheMoveNeverReplacesAnEntry)
{
    const QString dir = folder(QStringLiteral("move"));
    const QString from = dir + QStringLiteral("/.vorlik-tmp-x.wav");
    const QString taken = dir + QStringLiteral("/Take.wav");
    vorlik::test::writeFile(from, "new");
    vorlik::test::writeFile(taken, "the user's");
    EXPECT_EQ(OutputName::moveWithoutReplacing(from, taken), std::errc::file_exists);
    EXPECT_EQ(vorlik::test::readFile(taken), QByteArray("the user's"));
    EXPECT_EQ(vorlik::test::readFile(from), QByteArray("new"));

    // Placing it takes the next free name of the series instead.
    const QString placed = OutputName::moveIntoPlace(from, taken, dir, QStringLiteral("Take"), QStringLiteral(".wav"));
    EXPECT_EQ(placed, dir + QStringLiteral("/Take (1).wav"));
    EXPECT_EQ(vorlik::test::readFile(placed), QByteArray("new"));
    EXPECT_EQ(vorlik::test::readFile(taken), QByteArray("the user's"));
    EXPECT_FALSE(QFile::exists(from));

    // A folder that cannot be reached is the file system's error, with its reason.
    vorlik::test::writeFile(from, "again");
    try {
        OutputName::moveIntoPlace(from, dir + QStringLiteral("/gone/Take.wav"), dir + QStringLiteral("/gone"),
                                  QStringLiteral("Take"), QStringLiteral(".wav"));
        ADD_FAILURE() << "the move should have failed";
    } catch (const Failure &error) {
        EXPECT_TRUE(error.description().startsWith(QStringLiteral("Could not move the converted file to ")));
        EXPECT_TRUE(error.description().endsWith(QStringLiteral("No such file or directory"))) << error.what();
    }
    EXPECT_EQ(vorlik::test::readFile(from), QByteArray("again"));
}
