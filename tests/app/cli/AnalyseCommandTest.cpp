// `vorlik analyse` run as a user would, against the stand-in service.
#include "tests/analysis/TestAudio.h"
#include "tests/support/DevServer.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

namespace {

struct CliRun {
    int exitCode = -1;
    QString out;
    QString err;
};

class AnalyseCommand : public ::testing::Test {
protected:
    void SetUp() override
    {
        server().reset();
        ASSERT_TRUE(m_files.isValid());
    }

    static vorlik::test::DevServer &server() { return vorlik::test::DevServer::shared(); }

    CliRun analyse(const QStringList &files, const QString &key = server().demoKey()) const
    {
        QProcess process;
        process.setWorkingDirectory(m_files.path());
        process.start(QStringLiteral(VORLIK_CLI_PATH),
                      QStringList{QStringLiteral("--base-url"), server().baseUrl().toString(), QStringLiteral("--key"), key,
                                  QStringLiteral("analyse")}
                          + files);
        process.waitForFinished(120000);
        return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
                QString::fromUtf8(process.readAllStandardOutput()), QString::fromUtf8(process.readAllStandardError())};
    }

    QString file(const QString &name, const QByteArray &content) const
    {
        vorlik::test::writeFile(m_files.filePath(name), content);
        return name;
    }

    QTemporaryDir m_files;
};

TEST_F(AnalyseCommand, printsTheItemsTheStatusLineAndTheSummary)
{
    const CliRun run = analyse({file(QStringLiteral("tone.wav"), vorlik::test::sineWAV(1.0))});
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    const QStringList expected{QStringLiteral("Connecting…"),
                               QStringLiteral("Connected — "),
                               QStringLiteral("tone.wav: Queued"),
                               QStringLiteral("1 file queued — analysis runs on the Vorlik VPS."),
                               QStringLiteral("Running…"),
                               QStringLiteral("tone.wav: Uploading tone.wav…"),
                               QStringLiteral("tone.wav: Analyzing tone.wav…"),
                               QStringLiteral("Analyzing tone.wav on the VPS…"),
                               QStringLiteral("tone.wav: ✓ tone.wav"),
                               QStringLiteral("✓ tone.wav — 1 analysed this session."),
                               QStringLiteral("Queue finished — 1 file analysed.")};
    qsizetype at = 0;
    for (const QString &text : expected) {
        const qsizetype found = run.out.indexOf(text, at);
        ASSERT_GE(found, 0) << "missing, or out of order: " << text.toStdString() << "\n" << run.out.toStdString();
        at = found + text.size();
    }
    EXPECT_TRUE(QRegularExpression(QStringLiteral("\ntone\\.wav: 44100 Hz · 2 ch · 16-bit · -[0-9]+\\.[0-9] LUFS\n$"))
                    .match(run.out)
                    .hasMatch())
        << run.out.toStdString();
}

TEST_F(AnalyseCommand, aFailedItemMakesTheExitCodeNonZero)
{
    const CliRun run = analyse({file(QStringLiteral("words.wav"), "not sound"), file(QStringLiteral("tone.wav"), vorlik::test::sineWAV(0.3))});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.out.contains(QStringLiteral("Queue finished — 1 analysed, 1 failed. Click a red card for details.")))
        << run.out.toStdString();
    EXPECT_TRUE(run.err.contains(QStringLiteral("✗ words.wav: ffprobe could not read the file: "))) << run.err.toStdString();
    EXPECT_TRUE(run.out.contains(QStringLiteral("tone.wav: 44100 Hz")));
}

TEST_F(AnalyseCommand, signInFailureNoAudioAndNoArguments)
{
    CliRun run = analyse({file(QStringLiteral("tone.wav"), vorlik::test::sineWAV(0.3))}, QStringLiteral("not-a-key"));
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.out.contains(QStringLiteral("Sign in failed")));
    EXPECT_TRUE(run.err.contains(QStringLiteral("✗ Server error 401: ")));

    run = analyse({file(QStringLiteral("notes.txt"), "words")});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.out.contains(QStringLiteral("No audio files found (wav, aiff, flac, mp3, m4a, aac, ogg…).")));

    run = analyse({});
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_TRUE(run.err.contains(QStringLiteral("analyse needs at least one audio file or folder")));
}

} // namespace
