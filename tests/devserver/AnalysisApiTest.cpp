// The analysis endpoints of the stand-in service: uploads streamed to disk, jobs that really
// analyse the audio (ffprobe, astats, libebur128), their status documents and report files,
// cancel, the test hooks that make jobs slow, failing or endless, and the files left behind.
#include "tests/convert/TestMedia.h"
#include "tests/devserver/DevServerCalls.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

using namespace vorlik::test;

namespace {

DevServer &server() { return DevServer::shared(); }

QString errorOf(const QByteArray &body) { return jsonObject(body).value(QStringLiteral("error")).toString(); }
QString statusOf(const QJsonObject &job) { return job.value(QStringLiteral("status")).toString(); }
QStringList filesIn(const QString &folder) { return QDir(folder).entryList(QDir::Files | QDir::Hidden); }

class AnalysisApiTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        server().reset();
        ASSERT_TRUE(m_media.isValid());
        if (s_bearer.isEmpty())
            s_bearer = activateDemo(server()).value(QStringLiteral("access_token")).toString();
    }

    AnalysisCalls calls() const { return AnalysisCalls{server(), s_bearer}; }
    QString media(const QString &name) const { return m_media.filePath(name); }

    // A stereo sine of `seconds` at `dbfs` (peak), 44.1 kHz 16-bit WAV.
    QString tone(const QString &name, double dbfs, double seconds = 3)
    {
        return TestMedia::make(media(name), {QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
                                             QStringLiteral("aevalsrc=exprs=sin(2*PI*1000*t)*pow(10\\,%1/20)|sin(2*PI*1000*t)*pow(10\\,%1/20)"
                                                            ":s=44100:d=%2:c=stereo").arg(dbfs).arg(seconds),
                                             QStringLiteral("-c:a"), QStringLiteral("pcm_s16le")});
    }

    // Waits until the job's worker has let go of its audio file.
    bool audioGone(const QString &jobID) const
    {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 30000) {
            if (!calls().jobEntry(jobID).value(QStringLiteral("audio_on_disk")).toBool(true))
                return true;
            QThread::msleep(50);
        }
        return false;
    }

    RawReply get(const QString &path) const { return rawCall(server().baseUrl(), "GET", path, {}, s_bearer); }
    RawReply post(const QString &path, const QByteArray &body = {}) const { return rawCall(server().baseUrl(), "POST", path, body, s_bearer); }

    QTemporaryDir m_media;
    static inline QString s_bearer;
};

TEST_F(AnalysisApiTest, aToneIsAnalysedForRealAndNothingOfItStaysOnDisk)
{
    const QJsonObject job = calls().analyse(tone(QStringLiteral("tone.wav"), -20), QStringLiteral("My \"tone\".wav"));
    ASSERT_EQ(statusOf(job), QStringLiteral("COMPLETED")) << job.value(QStringLiteral("error_summary")).toString().toStdString();
    EXPECT_EQ(at(job, "analysis/file/name").toString(), QStringLiteral("My \"tone\".wav"));
    EXPECT_TRUE(at(job, "analysis/engine/ffprobe").toString().startsWith(QStringLiteral("ffprobe version ")));
    EXPECT_TRUE(at(job, "analysis/engine/measurement_backend").toString().startsWith(QStringLiteral("libebur128 1.")));
    EXPECT_EQ(at(job, "analysis/container/format_name").toString(), QStringLiteral("wav"));
    EXPECT_EQ(at(job, "analysis/container/duration_hms").toString(), QStringLiteral("00:00:03.000"));
    EXPECT_EQ(at(job, "analysis/container/size_bytes").toString().toLongLong(), QFileInfo(media(QStringLiteral("tone.wav"))).size());
    EXPECT_EQ(at(job, "analysis/container/nb_streams").toInt(), 1);
    EXPECT_EQ(at(job, "analysis/audio_streams").toArray().size(), 1);
    EXPECT_EQ(at(job, "analysis/audio_streams/0/codec_name").toString(), QStringLiteral("pcm_s16le"));
    EXPECT_EQ(at(job, "analysis/audio_streams/0/sample_rate_hz").toString(), QStringLiteral("44100"));
    EXPECT_EQ(at(job, "analysis/audio_streams/0/channels").toInt(), 2);
    EXPECT_EQ(at(job, "analysis/audio_streams/0/bit_rate_bps").toString(), QStringLiteral("1411200"));
    EXPECT_TRUE(at(job, "analysis/other_streams").toArray().isEmpty());
    EXPECT_TRUE(at(job, "analysis/chapters").toArray().isEmpty());
    // A sine peaking at -20 dBFS: RMS 3.01 dB lower; loudness -20 LUFS (1 kHz, both channels).
    const struct { const char *path; double expected, tolerance; } figures[] = {
        {"levels/peak_dbfs", -20.0, 0.01}, {"levels/rms_dbfs", -23.01, 0.02}, {"levels/noise_floor_dbfs", -20.0, 0.1},
        {"loudness/integrated_lufs", -20.0, 0.1}, {"loudness/threshold_lufs", -30.0, 0.1}, {"loudness/lra_lu", 0.0, 0.1},
        {"loudness/true_peak_dbfs", -20.0, 0.2}, {"loudness/max_short_term_lufs", -20.0, 0.1}};
    for (const auto &figure : figures)
        EXPECT_NEAR(at(job.value(QStringLiteral("analysis")), figure.path).toDouble(NAN), figure.expected, figure.tolerance) << figure.path;
    EXPECT_EQ(at(job, "analysis/levels/sample_count").toInteger(), 3 * 44100);

    const QString jobID = job.value(QStringLiteral("job_id")).toString();
    EXPECT_EQ(job.value(QStringLiteral("output_report")).toString(), QStringLiteral("/v1/jobs/%1/download/report").arg(jobID));
    const RawReply report = get(QStringLiteral("/v1/jobs/%1/download/report").arg(jobID));
    ASSERT_EQ(report.status, 200);
    const QString text = QString::fromUtf8(report.body);
    EXPECT_TRUE(text.startsWith(QStringLiteral("Vorlik audio analysis report\n"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("My \"tone\".wav")));
    EXPECT_TRUE(text.contains(QStringLiteral("Integrated:         -20.0 LUFS"))) << text.toStdString();

    EXPECT_TRUE(audioGone(jobID));
    EXPECT_EQ(filesIn(server().dataPath() + QStringLiteral("/uploads")), QStringList());
    EXPECT_EQ(filesIn(server().dataPath() + QStringLiteral("/jobs")), QStringList());
}

TEST_F(AnalysisApiTest, chaptersTagsAndOtherStreamsAreReported)
{
    const QString chapters = media(QStringLiteral("chapters.txt"));
    writeFile(chapters, ";FFMETADATA1\ntitle=Session\nartist=Vorlik\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\nEND=1500\ntitle=Intro\n"
                        "[CHAPTER]\nTIMEBASE=1/1000\nSTART=1500\nEND=3000\ntitle=Verse\n");
    const QString subtitles = media(QStringLiteral("lyrics.srt"));
    writeFile(subtitles, "1\n00:00:00,000 --> 00:00:01,000\nla la\n");
    const QString file = TestMedia::make(media(QStringLiteral("session.mka")),
        QStringLiteral("-f lavfi -i sine=frequency=1000:sample_rate=48000:duration=3 -i %1 -i %2 -map 0:a -map 2:s -map_metadata 1"
                       " -map_chapters 1 -c:a flac -c:s copy -metadata:s:a:0 language=eng").arg(chapters, subtitles).split(QLatin1Char(' ')));
    const QJsonObject job = calls().analyse(file);
    ASSERT_EQ(statusOf(job), QStringLiteral("COMPLETED")) << job.value(QStringLiteral("error_summary")).toString().toStdString();
    EXPECT_EQ(at(job, "analysis/container/format_name").toString(), QStringLiteral("matroska,webm"));
    EXPECT_EQ(at(job, "analysis/container/nb_streams").toInt(), 2);
    EXPECT_EQ(at(job, "analysis/container/tags/title").toString(), QStringLiteral("Session"));
    EXPECT_EQ(at(job, "analysis/container/tags/ARTIST").toString() + at(job, "analysis/container/tags/artist").toString(), QStringLiteral("Vorlik"));
    EXPECT_EQ(at(job, "analysis/audio_streams/0/codec_name").toString(), QStringLiteral("flac"));
    EXPECT_EQ(at(job, "analysis/audio_streams/0/language").toString(), QStringLiteral("eng"));
    EXPECT_EQ(at(job, "analysis/audio_streams/0/channel_layout").toString(), QStringLiteral("mono"));
    // FLAC states no stream bit rate, and with more than one stream the container's is not the stream's.
    EXPECT_TRUE(at(job, "analysis/audio_streams/0/bit_rate_bps").isUndefined());
    EXPECT_EQ(at(job, "analysis/other_streams").toArray().size(), 1);
    EXPECT_EQ(at(job, "analysis/other_streams/0/codec_type").toString(), QStringLiteral("subtitle"));
    EXPECT_EQ(at(job, "analysis/chapters").toArray().size(), 2);
    EXPECT_EQ(at(job, "analysis/chapters/1/title").toString(), QStringLiteral("Verse"));
    EXPECT_EQ(at(job, "analysis/chapters/1/start_hms").toString(), QStringLiteral("00:00:01.500"));
    EXPECT_EQ(at(job, "analysis/chapters/1/end_hms").toString(), QStringLiteral("00:00:03.000"));
}

TEST_F(AnalysisApiTest, silenceHasNoLoudnessAndFilesWithoutAudioFailWithAReason)
{
    QJsonObject job = calls().analyse(TestMedia::silence(media(QStringLiteral("quiet.wav")), QStringLiteral("stereo"), 1.0));
    ASSERT_EQ(statusOf(job), QStringLiteral("COMPLETED"));
    for (const char *absent : {"analysis/loudness/integrated_lufs", "analysis/loudness/true_peak_dbfs", "analysis/levels/peak_dbfs"})
        EXPECT_TRUE(at(job, absent).isUndefined()) << absent;
    EXPECT_EQ(at(job, "analysis/levels/sample_count").toInteger(), 48000);

    writeFile(media(QStringLiteral("notes.wav")), "these are words, not sound\n");
    job = calls().analyse(media(QStringLiteral("notes.wav")));
    ASSERT_EQ(statusOf(job), QStringLiteral("FAILED"));
    const QString summary = job.value(QStringLiteral("error_summary")).toString();
    EXPECT_TRUE(summary.startsWith(QStringLiteral("ffprobe could not read the file: "))) << summary.toStdString();
    EXPECT_FALSE(summary.contains(server().dataPath())) << "the server's own paths stay private";
    EXPECT_FALSE(job.contains(QStringLiteral("analysis")));
    const RawReply report = get(QStringLiteral("/v1/jobs/%1/download/report").arg(job.value(QStringLiteral("job_id")).toString()));
    EXPECT_EQ(report.status, 409);
    EXPECT_EQ(errorOf(report.body), QStringLiteral("the job has no report (status FAILED)"));

    writeFile(media(QStringLiteral("only.srt")), "1\n00:00:00,000 --> 00:00:01,000\nno sound here\n");
    job = calls().analyse(media(QStringLiteral("only.srt")));
    EXPECT_EQ(statusOf(job), QStringLiteral("FAILED"));
    EXPECT_EQ(job.value(QStringLiteral("error_summary")).toString(), QStringLiteral("the file holds no audio stream"));
}

TEST_F(AnalysisApiTest, uploadsAndJobsWantABearerAFileFieldAudioInfoAndTheirOwnClient)
{
    const QByteArray boundary = "b0undary";
    const QByteArray wav = readFile(tone(QStringLiteral("t.wav"), -20, 0.2));
    const auto upload = [&](const QByteArray &body, const QString &bearer) {
        return rawCall(server().baseUrl(), "POST", QStringLiteral("/v1/uploads"), body, bearer, multipartType(boundary));
    };
    EXPECT_EQ(upload(multipartBody(boundary, wav), {}).status, 401);
    EXPECT_EQ(upload(multipartBody(boundary, wav), QStringLiteral("vat_not_a_token")).status, 401);
    RawReply reply = post(QStringLiteral("/v1/uploads"), R"({"file":"t.wav"})");
    EXPECT_EQ(reply.status, 400);
    EXPECT_EQ(errorOf(reply.body), QStringLiteral("the body must be multipart/form-data with a \"file\" field"));
    reply = upload(multipartBody(boundary, wav, QStringLiteral("t.wav"), "attachment"), s_bearer);
    EXPECT_EQ(reply.status, 400);
    EXPECT_EQ(errorOf(reply.body), QStringLiteral("the form has no \"file\" field"));
    QByteArray cut = multipartBody(boundary, wav); // a body that stops before its closing boundary
    cut.chop(boundary.size() + 8);
    EXPECT_EQ(upload(cut, s_bearer).status, 400);
    EXPECT_EQ(filesIn(server().dataPath() + QStringLiteral("/uploads")), QStringList()) << "a refused upload is not kept";

    reply = upload(multipartBody(boundary, wav, QStringLiteral("ok.wav")), s_bearer);
    ASSERT_EQ(reply.status, 200) << reply.body.toStdString();
    const QString uploadID = jsonObject(reply.body).value(QStringLiteral("upload_id")).toString();
    EXPECT_TRUE(uploadID.startsWith(QStringLiteral("up_")));
    EXPECT_EQ(jsonObject(reply.body).value(QStringLiteral("size_bytes")).toInteger(), wav.size());
    EXPECT_EQ(jsonObject(reply.body).value(QStringLiteral("file_name")).toString(), QStringLiteral("ok.wav"));
    const QStringList stored = filesIn(server().dataPath() + QStringLiteral("/uploads"));
    ASSERT_EQ(stored.size(), 1);
    EXPECT_EQ(readFile(server().dataPath() + QStringLiteral("/uploads/") + stored.front()), wav) << "the bytes are stored unchanged";

    const QString path = QStringLiteral("/v1/jobs/%1/process").arg(uploadID);
    reply = post(path, R"({"workflow":"video_info"})");
    EXPECT_EQ(reply.status, 400);
    EXPECT_EQ(errorOf(reply.body), QStringLiteral("unknown workflow \"video_info\" (this service runs audio_info)"));
    EXPECT_EQ(post(path, R"({})").status, 400);
    EXPECT_EQ(post(path, R"({"workflow":7})").status, 400);
    EXPECT_EQ(post(QStringLiteral("/v1/jobs/up_nope/process"), R"({"workflow":"audio_info"})").status, 404);
    EXPECT_EQ(rawCall(server().baseUrl(), "POST", path, R"({"workflow":"audio_info"})").status, 401);
    reply = post(path, R"({"workflow":"audio_info"})");
    ASSERT_EQ(reply.status, 202);
    EXPECT_TRUE(jsonObject(reply.body).value(QStringLiteral("job_id")).toString().startsWith(QStringLiteral("job_")));
    EXPECT_EQ(statusOf(jsonObject(reply.body)), QStringLiteral("QUEUED"));
    EXPECT_EQ(post(path, R"({"workflow":"audio_info"})").status, 404) << "an upload starts one job only";
    for (const auto &[method, route] : {std::pair<QByteArray, QString>{"GET", QStringLiteral("/v1/jobs/job_x")},
                                        {"GET", QStringLiteral("/v1/jobs/job_x/download/report")}, {"POST", QStringLiteral("/v1/jobs/job_x/cancel")}})
        EXPECT_EQ(rawCall(server().baseUrl(), method, route).status, 401) << route.toStdString();
    EXPECT_EQ(get(QStringLiteral("/v1/jobs/job_nope/download/report")).status, 404);
    EXPECT_EQ(post(QStringLiteral("/v1/jobs/job_unknown/cancel")).status, 404);

    // Another client's uploads and jobs are not there for it; --job-delay-ms holds every job back.
    DevServer own({QStringLiteral("--key"), QStringLiteral("vk_second_client_key"), QStringLiteral("--job-delay-ms"), QStringLiteral("250")});
    const QString first = activateDemo(own).value(QStringLiteral("access_token")).toString();
    const auto [status, body] = own.call("POST", QStringLiteral("/v1/auth/activate"), R"({"api_key":"vk_second_client_key"})");
    ASSERT_EQ(status, 200);
    const QString second = jsonObject(body).value(QStringLiteral("access_token")).toString();
    const AnalysisCalls mine{own, first};
    const QString otherUpload = jsonObject(mine.upload(wav, QStringLiteral("t.wav")).body).value(QStringLiteral("upload_id")).toString();
    const QString otherPath = QStringLiteral("/v1/jobs/%1/process").arg(otherUpload);
    EXPECT_EQ(rawCall(own.baseUrl(), "POST", otherPath, R"({"workflow":"audio_info"})", second).status, 404);
    const RawReply started = rawCall(own.baseUrl(), "POST", otherPath, R"({"workflow":"audio_info"})", first);
    ASSERT_EQ(started.status, 202);
    const QString jobID = jsonObject(started.body).value(QStringLiteral("job_id")).toString();
    EXPECT_EQ(rawCall(own.baseUrl(), "GET", QStringLiteral("/v1/jobs/") + jobID, {}, second).status, 404);
    EXPECT_EQ(rawCall(own.baseUrl(), "POST", QStringLiteral("/v1/jobs/%1/cancel").arg(jobID), {}, second).status, 404);
    EXPECT_EQ(at(mine.jobEntry(jobID), "behaviour/delay_ms").toInt(), 250);
    EXPECT_EQ(statusOf(mine.waitForEnd(jobID)), QStringLiteral("COMPLETED"));
}

TEST_F(AnalysisApiTest, behavioursApplyForTheirCountAndGoWithTheFaults)
{
    const QString file = tone(QStringLiteral("t.wav"), -20, 0.2);
    calls().behave({{QStringLiteral("outcome"), QStringLiteral("fail")}, {QStringLiteral("error_summary"), QStringLiteral("decoder exploded")}});
    const QJsonObject failed = calls().analyse(file);
    EXPECT_EQ(failed.value(QStringLiteral("error_summary")).toString(), QStringLiteral("decoder exploded"));
    EXPECT_TRUE(audioGone(failed.value(QStringLiteral("job_id")).toString()));

    calls().behave({{QStringLiteral("outcome"), QStringLiteral("fail")}, {QStringLiteral("count"), 2}});
    EXPECT_EQ(calls().analyse(file).value(QStringLiteral("error_summary")).toString(), QStringLiteral("injected failure"));
    EXPECT_EQ(statusOf(calls().analyse(file)), QStringLiteral("FAILED"));
    EXPECT_EQ(statusOf(calls().analyse(file)), QStringLiteral("COMPLETED"));
    calls().behave({{QStringLiteral("outcome"), QStringLiteral("fail")}, {QStringLiteral("count"), -1}});
    EXPECT_EQ(statusOf(calls().analyse(file)), QStringLiteral("FAILED"));
    server().clearFaults();
    EXPECT_EQ(statusOf(calls().analyse(file)), QStringLiteral("COMPLETED"));

    calls().behave({{QStringLiteral("delay_ms"), 300}}); // held back, then completes normally
    const QString jobID = calls().startJob(file);
    EXPECT_EQ(at(calls().jobEntry(jobID), "behaviour/delay_ms").toInt(), 300);
    EXPECT_EQ(statusOf(calls().waitForEnd(jobID)), QStringLiteral("COMPLETED"));

    for (const char *bad : {R"({"outcome":"explode"})", R"({"delay_ms":-1})", R"({"delay_ms":"1"})", R"({"count":0})", R"({"error_summary":5})"})
        EXPECT_EQ(server().call("POST", QStringLiteral("/admin/jobs"), bad).first, 400) << bad;
}

TEST_F(AnalysisApiTest, aHangingJobRunsUntilCancelledOrReleased)
{
    calls().behave({{QStringLiteral("outcome"), QStringLiteral("hang")}, {QStringLiteral("count"), 2}});
    const QString file = tone(QStringLiteral("t.wav"), -20, 0.2);
    const QString jobID = calls().startJob(file);
    ASSERT_FALSE(jobID.isEmpty());
    EXPECT_EQ(get(QStringLiteral("/health")).status, 200); // other requests are served meanwhile
    for (const QString &state : {statusOf(calls().jobStatus(jobID)), statusOf(calls().jobStatus(jobID))})
        EXPECT_TRUE(state == QStringLiteral("RUNNING") || state == QStringLiteral("QUEUED")) << state.toStdString();

    RawReply reply = post(QStringLiteral("/v1/jobs/%1/cancel").arg(jobID));
    EXPECT_EQ(reply.status, 202);
    EXPECT_EQ(statusOf(jsonObject(reply.body)), QStringLiteral("CANCELLED"));
    const QJsonObject job = calls().jobStatus(jobID);
    EXPECT_EQ(statusOf(job), QStringLiteral("CANCELLED"));
    EXPECT_FALSE(job.contains(QStringLiteral("analysis")));
    reply = post(QStringLiteral("/v1/jobs/%1/cancel").arg(jobID));
    EXPECT_EQ(reply.status, 200) << "cancelling an ended job changes nothing";
    EXPECT_EQ(statusOf(jsonObject(reply.body)), QStringLiteral("CANCELLED"));
    EXPECT_EQ(get(QStringLiteral("/v1/jobs/%1/download/report").arg(jobID)).status, 409);
    EXPECT_TRUE(audioGone(jobID));

    const QString released = calls().startJob(file);
    EXPECT_NE(statusOf(calls().jobStatus(released)), QStringLiteral("COMPLETED"));
    const auto [status, body] = server().call("POST", QStringLiteral("/admin/jobs/release"));
    EXPECT_EQ(status, 200);
    EXPECT_EQ(jsonObject(body).value(QStringLiteral("released")).toInt(), 1);
    EXPECT_EQ(statusOf(calls().waitForEnd(released)), QStringLiteral("COMPLETED"));
}

TEST_F(AnalysisApiTest, cancellingARealAnalysisStopsIt)
{
    // Long enough that the cancel arrives while ffmpeg is still decoding.
    const QString file = TestMedia::make(media(QStringLiteral("long.flac")),
        QStringLiteral("-f lavfi -i anoisesrc=d=600:r=48000:a=0.3 -ac 2 -c:a flac -compression_level 0").split(QLatin1Char(' ')));
    const QString jobID = calls().startJob(file);
    ASSERT_FALSE(jobID.isEmpty());
    EXPECT_EQ(post(QStringLiteral("/v1/jobs/%1/cancel").arg(jobID)).status, 202);
    EXPECT_TRUE(audioGone(jobID));
    EXPECT_EQ(statusOf(calls().jobStatus(jobID)), QStringLiteral("CANCELLED"));
}

} // namespace
