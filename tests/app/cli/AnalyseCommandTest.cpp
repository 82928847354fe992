// `vorlik analyse` run as a user would, against the stand-in service.
#include "analysis/JobInfo.h"
#include "analysis/ReportFormat.h"
#include "app/cli/ReportText.h"
#include "tests/analysis/TestAudio.h"
#include "tests/support/DevServer.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <csignal>
#include <sys/stat.h>

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
        return run(QStringList{QStringLiteral("--base-url"), server().baseUrl().toString(), QStringLiteral("--key"), key,
                               QStringLiteral("analyse")}
                   + files);
    }

    CliRun run(const QStringList &arguments) const
    {
        QProcess process;
        process.setWorkingDirectory(m_files.path());
        process.start(QStringLiteral(VORLIK_CLI_PATH), arguments);
        process.waitForFinished(120000);
        return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
                QString::fromUtf8(process.readAllStandardOutput()), QString::fromUtf8(process.readAllStandardError())};
    }

    QString file(const QString &name, const QByteArray &content) const
    {
        vorlik::test::writeFile(m_files.filePath(name), content);
        return name;
    }

    // GET /v1/jobs/… of the last job the client asked about, as the service answers it now,
    // with a bearer of the demo key's own.
    static QByteArray lastJob(const QString &what = QString())
    {
        QString path;
        for (const QJsonValue &request : server().requests()) {
            const QString seen = request[QStringLiteral("path")].toString();
            if (request[QStringLiteral("method")].toString() == QLatin1String("GET")
                && QRegularExpression(QStringLiteral("^/v1/jobs/[^/]+$")).match(seen).hasMatch())
                path = seen;
        }
        EXPECT_FALSE(path.isEmpty());
        const QJsonObject fields{{QStringLiteral("api_key"), server().demoKey()},
                                 {QStringLiteral("installation_label"), QStringLiteral("Vorlik Desktop")}};
        const QString bearer = QJsonDocument::fromJson(
                                   server().call("POST", QStringLiteral("/v1/auth/activate"), QJsonDocument(fields).toJson()).second)
                                   .object()
                                   .value(QStringLiteral("access_token"))
                                   .toString();
        const auto [status, body] = server().call("GET", path + what, {}, bearer);
        EXPECT_EQ(status, 200) << body.toStdString();
        return body;
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
    EXPECT_TRUE(QRegularExpression(QStringLiteral("\n\ntone\\.wav: 44100 Hz · 2 ch · 16-bit · -[0-9]+\\.[0-9] LUFS\n  Container\n"))
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

TEST_F(AnalyseCommand, signInFailureAndNoAudio)
{
    CliRun run = analyse({file(QStringLiteral("tone.wav"), vorlik::test::sineWAV(0.3))}, QStringLiteral("not-a-key"));
    EXPECT_EQ(run.exitCode, 3);
    EXPECT_TRUE(run.out.contains(QStringLiteral("Sign in failed")));
    EXPECT_TRUE(run.err.contains(QStringLiteral("✗ Server error 401: ")));

    run = analyse({file(QStringLiteral("notes.txt"), "words")});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.out.contains(QStringLiteral("No audio files found (wav, aiff, flac, mp3, m4a, aac, ogg…).")));

    // A named file or folder the queue does not take is said, each on a line, and fails the run,
    // though the rest is analysed.
    ASSERT_TRUE(QDir(m_files.path()).mkdir(QStringLiteral("empty")));
    run = analyse({file(QStringLiteral("tone.wav"), vorlik::test::sineWAV(0.3)), file(QStringLiteral("clip.mp4"), "video"),
                   file(QStringLiteral("take"), vorlik::test::sineWAV(0.3)), QStringLiteral("empty")});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.out.contains(QStringLiteral("tone.wav: 44100 Hz"))) << run.out.toStdString();
    for (const char *name : {"clip.mp4", "take", "empty"}) {
        EXPECT_TRUE(run.err.contains(QStringLiteral("✗ %1: No audio files found (wav, aiff, flac, mp3, m4a, aac, ogg…).\n")
                                         .arg(QString::fromUtf8(name))))
            << run.err.toStdString();
    }
}

TEST_F(AnalyseCommand, jsonIsTheServicesDocumentAndTheTextIsThePagesReport)
{
    const QString tone = file(QStringLiteral("tone.wav"), vorlik::test::sineWAV(1.0));
    const CliRun json = run({QStringLiteral("--base-url"), server().baseUrl().toString(), QStringLiteral("--key"),
                             server().demoKey(), QStringLiteral("analyse"), QStringLiteral("--json"), tone});
    ASSERT_EQ(json.exitCode, 0) << json.err.toStdString();
    ASSERT_EQ(json.out.count(u'\n'), 1) << "one document per file, one per line:\n" << json.out.toStdString();
    const QJsonObject printed = QJsonDocument::fromJson(json.out.toUtf8()).object();
    const QJsonObject sent = QJsonDocument::fromJson(lastJob()).object().value(QStringLiteral("analysis")).toObject();
    EXPECT_FALSE(sent.isEmpty());
    EXPECT_EQ(printed, sent);
    EXPECT_TRUE(json.err.contains(QStringLiteral("Queue finished — 1 file analysed."))) << "the texts go with the errors";

    const CliRun text = analyse({tone});
    ASSERT_EQ(text.exitCode, 0) << text.err.toStdString();
    const vorlik::analysis::AnalysisPayload report =
        *vorlik::analysis::JobInfo::decode(vorlik::analysis::KeyedObject(QJsonObject{{QStringLiteral("analysis"), sent}}, QString()))
             .analysis;
    const QList<vorlik::analysis::ReportSection> sections = vorlik::analysis::ReportFormat::sections(report);
    QStringList titles;
    for (const auto &section : sections) {
        titles << section.title;
        EXPECT_TRUE(text.out.contains(QStringLiteral("\n  ") + section.title + u'\n')) << section.title.toStdString();
        for (const auto &row : section.rows) {
            const QRegularExpression line(QStringLiteral("\n    ") + QRegularExpression::escape(row.label) + QStringLiteral(" +")
                                          + QRegularExpression::escape(vorlik::analysis::ReportFormat::shown(row.value)) + u'\n');
            EXPECT_TRUE(line.match(text.out).hasMatch()) << row.label.toStdString() << "\n" << text.out.toStdString();
        }
    }
    EXPECT_EQ(titles, (QStringList{QStringLiteral("Container"), QStringLiteral("Audio Stream #0"), QStringLiteral("Levels"),
                                   QStringLiteral("Loudness (EBU R128 / ITU-R BS.1770)")}));
    const QString integrated = vorlik::analysis::ReportFormat::fmt(report.loudness->integratedLufs, QStringLiteral(" LUFS"), 2);
    EXPECT_TRUE(QRegularExpression(QStringLiteral("\n    Integrated +") + QRegularExpression::escape(integrated) + u'\n')
                    .match(text.out)
                    .hasMatch())
        << integrated.toStdString() << "\n" << text.out.toStdString();
}

TEST_F(AnalyseCommand, interruptCancelsTheJobOnTheServiceAndFails)
{
    server().call("POST", QStringLiteral("/admin/jobs"), R"({"outcome":"hang"})");
    QProcess process;
    process.setWorkingDirectory(m_files.path());
    process.start(QStringLiteral(VORLIK_CLI_PATH),
                  {QStringLiteral("--base-url"), server().baseUrl().toString(), QStringLiteral("--key"), server().demoKey(),
                   QStringLiteral("analyse"), file(QStringLiteral("tone.wav"), vorlik::test::sineWAV(0.3))});
    ASSERT_TRUE(process.waitForStarted(10000));
    QByteArray seen;
    while (!seen.contains("Analyzing tone.wav on the VPS…\n") && process.state() == QProcess::Running) {
        process.waitForReadyRead(1000);
        seen += process.readAllStandardOutput();
    }
    ASSERT_TRUE(seen.contains("Analyzing tone.wav on the VPS…\n")) << seen.toStdString();
    ::kill(pid_t(process.processId()), SIGINT);
    ASSERT_TRUE(process.waitForFinished(60000));
    seen += process.readAllStandardOutput();
    EXPECT_EQ(process.exitCode(), 1) << seen.toStdString() << process.readAllStandardError().toStdString();
    EXPECT_TRUE(seen.endsWith("tone.wav: Stopped\nStopped — 1 file still queued.\n")) << seen.toStdString();
    QString cancelled;
    for (const QJsonValue &request : server().requests()) {
        const QRegularExpressionMatch cancel =
            QRegularExpression(QStringLiteral("^/v1/jobs/([^/]+)/cancel$")).match(request[QStringLiteral("path")].toString());
        if (cancel.hasMatch())
            cancelled = cancel.captured(1);
    }
    ASSERT_FALSE(cancelled.isEmpty()) << "the job is cancelled on the service: "
                                      << QJsonDocument(server().requests()).toJson().toStdString();
    const QJsonArray jobs =
        QJsonDocument::fromJson(server().call("GET", QStringLiteral("/admin/jobs")).second)[QStringLiteral("jobs")].toArray();
    for (const QJsonValue &job : jobs) {
        if (job[QStringLiteral("job_id")].toString() == cancelled) {
            EXPECT_EQ(job[QStringLiteral("status")].toString(), QStringLiteral("CANCELLED"));
        }
    }
    server().call("POST", QStringLiteral("/admin/jobs/release"));
}

TEST_F(AnalyseCommand, saveReportNeverWritesOverAFile)
{
    const QString tone = file(QStringLiteral("tone.wav"), vorlik::test::sineWAV(0.5));
    QDir(m_files.path()).mkdir(QStringLiteral("reports"));
    vorlik::test::writeFile(m_files.filePath(QStringLiteral("reports/tone_report.txt")), "my own notes");
    const CliRun saved = run({QStringLiteral("--base-url"), server().baseUrl().toString(), QStringLiteral("--key"),
                              server().demoKey(), QStringLiteral("analyse"), QStringLiteral("--save-report"),
                              QStringLiteral("reports"), tone});
    ASSERT_EQ(saved.exitCode, 0) << saved.err.toStdString();
    EXPECT_TRUE(saved.out.contains(QStringLiteral("Report saved → tone_report (1).txt\n"))) << saved.out.toStdString();
    EXPECT_EQ(QDir(m_files.filePath(QStringLiteral("reports"))).entryList(QDir::Files | QDir::Hidden),
              (QStringList{QStringLiteral("tone_report (1).txt"), QStringLiteral("tone_report.txt")}));
    EXPECT_EQ(vorlik::test::readFile(m_files.filePath(QStringLiteral("reports/tone_report.txt"))), "my own notes");
    // Readable as any file the user writes: the mode a plain write gets under the umask.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    struct stat status {};
    ASSERT_EQ(::stat(QFile::encodeName(m_files.filePath(QStringLiteral("reports/tone_report (1).txt"))).constData(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0666 & ~mask);
    EXPECT_EQ(vorlik::test::readFile(m_files.filePath(QStringLiteral("reports/tone_report (1).txt"))),
              lastJob(QStringLiteral("/download/report")));
}

} // namespace

// The service's strings reach a terminal: a control character in them is shown, not obeyed.
TEST(ReportText, ControlCharactersFromTheServiceAreShownNotObeyed)
{
    const QByteArray json = R"({"container": {"format_name": "wav\u001b[2J", "tags": {"key\nline": "a\rb\u0007c\u007fd\u009be"}}})";
    const QString text = vorlik::app::ReportText::render(vorlik::analysis::AnalysisPayload::fromJSON(json));
    EXPECT_TRUE(text.contains(QStringLiteral("wav\uFFFD[2J"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("key\uFFFDline"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("a\uFFFDb\uFFFDc\uFFFDd\uFFFDe"))) << text.toStdString();
    for (const QChar c : text)
        EXPECT_TRUE(c == u'\n' || (c >= u' ' && c != u'\x7f' && (c < u'\x80' || c > u'\x9f'))) << int(c.unicode());
}
