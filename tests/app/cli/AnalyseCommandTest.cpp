#include "analysis/JobInfo.h"
#include "analysis/ReportFormat.h"
#include "app/cli/ReportText.h"
#include "tests/analysis/TestAudio.h"
#include "tests/app/cli/CliTest.h"
#include "tests/support/TestFiles.h"

#include <QDir>
#include <QRegularExpression>

#include <csignal>
#include <sys/stat.h>

using namespace vorlik::test;
using vorlik::analysis::ReportFormat;

namespace {

class AnalyseCommand : public CliTest {
protected:
    ProgramRun analyse(const QStringList &arguments, const QString &key = server().demoKey()) const
    {
        return cli(with(key) << "analyse" << arguments, {{}, {}, m_files.path()});
    }
    QString file(const QString &name, const QByteArray &content) const
    {
        writeFile(m_files.filePath(name), content);
        return name;
    }
    QString tone(double seconds = 0.3) const { return file(QStringLiteral("tone.wav"), sineWAV(seconds)); }

    // GET /v1/jobs/… of the last job the client asked about, as the service answers it now.
    static QByteArray lastJob(const QString &what = QString())
    {
        QString path;
        static const QRegularExpression job(QStringLiteral("^/v1/jobs/[^/]+$"));
        for (const QJsonValue &request : server().requests())
            if (request["method"].toString() == QLatin1String("GET") && job.match(request["path"].toString()).hasMatch())
                path = request["path"].toString();
        EXPECT_FALSE(path.isEmpty());
        const auto [status, body] = server().call("GET", path + what, {}, bearer());
        EXPECT_EQ(status, 200) << body.toStdString();
        return body;
    }

    QTemporaryDir m_files;
};

TEST_F(AnalyseCommand, JsonIsTheServicesDocumentAndTheTextIsThePagesReport)
{
    const ProgramRun json = analyse({"--json", tone(1.0)});
    ASSERT_EQ(json.status, 0) << json.err.toStdString();
    ASSERT_EQ(json.out.count(u'\n'), 1) << "one document per file, one per line:\n" << json.out.toStdString();
    const QJsonObject sent = QJsonDocument::fromJson(lastJob()).object().value(QStringLiteral("analysis")).toObject();
    EXPECT_FALSE(sent.isEmpty());
    EXPECT_EQ(QJsonDocument::fromJson(json.out.toUtf8()).object(), sent);
    EXPECT_TRUE(json.err.contains("Queue finished — 1 file analysed.")) << "the texts go with the errors";

    const ProgramRun text = analyse({tone(1.0)});
    ASSERT_EQ(text.status, 0) << text.err.toStdString();
    expectInOrder(text.out, {"Connecting…", "Connected — ", "tone.wav: Queued", "1 file queued — analysis runs on the Vorlik VPS.",
                             "Running…", "tone.wav: Uploading tone.wav…", "tone.wav: Analyzing tone.wav…",
                             "Analyzing tone.wav on the VPS…", "tone.wav: ✓ tone.wav", "✓ tone.wav — 1 analysed this session.",
                             "Queue finished — 1 file analysed."});
    static const QRegularExpression summary(QStringLiteral("\n\ntone\\.wav: 44100 Hz · 2 ch · 16-bit · -[0-9]+\\.[0-9] LUFS\n  Container\n"));
    EXPECT_TRUE(summary.match(text.out).hasMatch()) << text.out.toStdString();
    const vorlik::analysis::AnalysisPayload report =
        *vorlik::analysis::JobInfo::decode(vorlik::analysis::KeyedObject(QJsonObject{{"analysis", sent}}, QString())).analysis;
    const auto sections = ReportFormat::sections(report);
    EXPECT_EQ(sections.size(), 4); // container, the stream, levels, loudness
    for (const auto &section : sections) {
        EXPECT_TRUE(text.out.contains("\n  " + section.title + u'\n')) << section.title.toStdString();
        for (const auto &row : section.rows) {
            const QRegularExpression line("\n    " + QRegularExpression::escape(row.label) + " +"
                                          + QRegularExpression::escape(ReportFormat::shown(row.value)) + u'\n');
            EXPECT_TRUE(line.match(text.out).hasMatch()) << row.label.toStdString() << "\n" << text.out.toStdString();
        }
    }
}

// A file that fails, and a named file or folder the queue does not take, each said on a line of
// its own: the rest is analysed and the run fails.
TEST_F(AnalyseCommand, FailuresAreSaidAndFailTheRun)
{
    ASSERT_TRUE(QDir(m_files.path()).mkdir(QStringLiteral("empty")));
    const QString none = QStringLiteral(": No audio files found (wav, aiff, flac, mp3, m4a, aac, ogg…).\n");
    const struct { const char *what; QStringList files; QString key; int status; QStringList out, err; } rows[] = {
        {"wrong key", {tone()}, "not-a-key", 3, {"Sign in failed"}, {"✗ Server error 401: "}},
        {"no audio", {file("notes.txt", "words")}, server().demoKey(), 1, {"No audio files found (wav, aiff, flac, mp3, m4a, aac, ogg…)."}, {}},
        {"a file fails", {file("words.wav", "not sound"), tone()}, server().demoKey(), 1,
         {"Queue finished — 1 analysed, 1 failed. Click a red card for details.", "tone.wav: 44100 Hz"},
         {"✗ words.wav: ffprobe could not read the file: "}},
        {"names not taken", {tone(), file("clip.mp4", "video"), file("take", sineWAV(0.3)), "empty"}, server().demoKey(), 1,
         {"tone.wav: 44100 Hz"}, {"✗ clip.mp4" + none, "✗ take" + none, "✗ empty" + none}},
    };
    for (const auto &row : rows) {
        const ProgramRun run = analyse(row.files, row.key);
        EXPECT_EQ(run.status, row.status) << row.what << run.err.toStdString();
        for (const QString &out : row.out)
            EXPECT_TRUE(run.out.contains(out)) << row.what << ": " << out.toStdString() << "\n" << run.out.toStdString();
        for (const QString &err : row.err)
            EXPECT_TRUE(run.err.contains(err)) << row.what << ": " << err.toStdString() << "\n" << run.err.toStdString();
    }
}

TEST_F(AnalyseCommand, InterruptCancelsTheJobOnTheServiceAndFails)
{
    server().call("POST", QStringLiteral("/admin/jobs"), R"({"outcome":"hang"})");
    QProcess process;
    startProgram(process, QStringLiteral(VORLIK_CLI_PATH), signedIn() << "analyse" << tone(), {{}, {}, m_files.path()});
    QByteArray seen;
    while (!seen.contains("Analyzing tone.wav on the VPS…\n") && process.state() != QProcess::NotRunning) {
        process.waitForReadyRead(1000);
        seen += process.readAllStandardOutput();
    }
    ASSERT_TRUE(seen.contains("Analyzing tone.wav on the VPS…\n")) << seen.toStdString();
    ::kill(pid_t(process.processId()), SIGINT);
    ProgramRun run = finishProgram(process);
    run.out.prepend(QString::fromUtf8(seen));
    expectRun(run, 1, "tone.wav: Stopped\nStopped — 1 file still queued.\n$", "", "interrupted");
    QString cancelled;
    static const QRegularExpression cancel(QStringLiteral("^/v1/jobs/([^/]+)/cancel$"));
    for (const QJsonValue &request : server().requests())
        if (const auto match = cancel.match(request["path"].toString()); match.hasMatch())
            cancelled = match.captured(1);
    ASSERT_FALSE(cancelled.isEmpty()) << "the job is cancelled on the service";
    for (const QJsonValue &job : QJsonDocument::fromJson(server().call("GET", "/admin/jobs").second)["jobs"].toArray())
        EXPECT_TRUE(job["job_id"].toString() != cancelled || job["status"].toString() == "CANCELLED")
            << job["status"].toString().toStdString();
    server().call("POST", QStringLiteral("/admin/jobs/release"));
}

TEST_F(AnalyseCommand, SaveReportNeverWritesOverAFile)
{
    QDir(m_files.path()).mkdir(QStringLiteral("reports"));
    writeFile(m_files.filePath("reports/tone_report.txt"), "my own notes");
    const ProgramRun saved = analyse({"--save-report", "reports", tone(0.5)});
    expectRun(saved, 0, "Report saved → tone_report (1).txt\n", "", "saved");
    EXPECT_EQ(QDir(m_files.filePath("reports")).entryList(QDir::Files | QDir::Hidden),
              (QStringList{"tone_report (1).txt", "tone_report.txt"}));
    EXPECT_EQ(readFile(m_files.filePath("reports/tone_report.txt")), "my own notes");
    // Readable as any file the user writes: the mode a plain write gets under the umask.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    struct stat status{};
    ASSERT_EQ(::stat(QFile::encodeName(m_files.filePath("reports/tone_report (1).txt")).constData(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0666 & ~mask);
    EXPECT_EQ(readFile(m_files.filePath("reports/tone_report (1).txt")), lastJob(QStringLiteral("/download/report")));
}

} // namespace

// The service's strings reach a terminal: a control character in them is shown, not obeyed.
TEST(ReportText, ControlCharactersFromTheServiceAreShownNotObeyed)
{
    const QByteArray json = R"({"container": {"format_name": "wav\u001b[2J", "tags": {"key\nline": "a\rb\u0007c\u007fd\u009be"}}})";
    const QString text = vorlik::app::ReportText::render(vorlik::analysis::AnalysisPayload::fromJSON(json));
    for (const char *shown : {"wav\uFFFD[2J", "key\uFFFDline", "a\uFFFDb\uFFFDc\uFFFDd\uFFFDe"})
        EXPECT_TRUE(text.contains(QString::fromUtf8(shown))) << text.toStdString();
    for (const QChar c : text)
        EXPECT_TRUE(c == u'\n' || (c >= u' ' && c != u'\x7f' && (c < u'\x80' || c > u'\x9f'))) << int(c.unicode());
}
