// The analysis endpoints of the stand-in service: uploads streamed to disk, jobs that really
// analyse the audio (ffprobe, astats, libebur128), their status documents and report files,
// cancel, the test hooks that make jobs slow, failing or endless, and the files left behind.
#include "tests/convert/TestMedia.h"
#include "tests/devserver/AnalysisCalls.h"
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
        const QString amplitude = QStringLiteral("pow(10\\,%1/20)").arg(dbfs);
        return TestMedia::make(media(name), {QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
                                             QStringLiteral("aevalsrc=exprs=sin(2*PI*1000*t)*%1|sin(2*PI*1000*t)*%1:s=44100:d=%2:c=stereo")
                                                 .arg(amplitude).arg(seconds),
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
    RawReply post(const QString &path, const QByteArray &body = {}) const
    {
        return rawCall(server().baseUrl(), "POST", path, body, s_bearer);
    }

    QTemporaryDir m_media;
    static inline QString s_bearer;
};

TEST_F(AnalysisApiTest, aToneIsAnalysedForReal)
{
    const QJsonObject job = calls().analyse(tone(QStringLiteral("tone.wav"), -20), QStringLiteral("My \"tone\".wav"));
    ASSERT_EQ(job.value(QStringLiteral("status")).toString(), QStringLiteral("COMPLETED"))
        << job.value(QStringLiteral("error_summary")).toString().toStdString();
    const QJsonObject analysis = job.value(QStringLiteral("analysis")).toObject();
    EXPECT_EQ(analysis.value(QStringLiteral("file")).toObject().value(QStringLiteral("name")).toString(),
              QStringLiteral("My \"tone\".wav"));

    const QJsonObject engine = analysis.value(QStringLiteral("engine")).toObject();
    EXPECT_TRUE(engine.value(QStringLiteral("ffprobe")).toString().startsWith(QStringLiteral("ffprobe version ")));
    EXPECT_TRUE(engine.value(QStringLiteral("measurement_backend")).toString().startsWith(QStringLiteral("libebur128 1.")));

    const QJsonObject container = analysis.value(QStringLiteral("container")).toObject();
    EXPECT_EQ(container.value(QStringLiteral("format_name")).toString(), QStringLiteral("wav"));
    EXPECT_EQ(container.value(QStringLiteral("duration_hms")).toString(), QStringLiteral("00:00:03.000"));
    EXPECT_EQ(container.value(QStringLiteral("size_bytes")).toString().toLongLong(), QFileInfo(media(QStringLiteral("tone.wav"))).size());
    EXPECT_EQ(container.value(QStringLiteral("nb_streams")).toInt(), 1);

    const QJsonArray streams = analysis.value(QStringLiteral("audio_streams")).toArray();
    ASSERT_EQ(streams.size(), 1);
    const QJsonObject stream = streams.at(0).toObject();
    EXPECT_EQ(stream.value(QStringLiteral("codec_name")).toString(), QStringLiteral("pcm_s16le"));
    EXPECT_EQ(stream.value(QStringLiteral("sample_rate_hz")).toString(), QStringLiteral("44100"));
    EXPECT_EQ(stream.value(QStringLiteral("channels")).toInt(), 2);
    EXPECT_EQ(stream.value(QStringLiteral("bit_rate_bps")).toString(), QStringLiteral("1411200"));
    EXPECT_TRUE(analysis.value(QStringLiteral("other_streams")).toArray().isEmpty());
    EXPECT_TRUE(analysis.value(QStringLiteral("chapters")).toArray().isEmpty());

    // A sine peaking at -20 dBFS: RMS 3.01 dB lower; loudness -20 LUFS (1 kHz, both channels).
    const QJsonObject levels = analysis.value(QStringLiteral("levels")).toObject();
    EXPECT_NEAR(levels.value(QStringLiteral("peak_dbfs")).toDouble(), -20.0, 0.01);
    EXPECT_NEAR(levels.value(QStringLiteral("rms_dbfs")).toDouble(), -23.01, 0.02);
    EXPECT_NEAR(levels.value(QStringLiteral("noise_floor_dbfs")).toDouble(), -20.0, 0.1);
    EXPECT_EQ(levels.value(QStringLiteral("sample_count")).toInteger(), 3 * 44100);

    const QJsonObject loudness = analysis.value(QStringLiteral("loudness")).toObject();
    EXPECT_NEAR(loudness.value(QStringLiteral("integrated_lufs")).toDouble(), -20.0, 0.1);
    EXPECT_NEAR(loudness.value(QStringLiteral("threshold_lufs")).toDouble(), -30.0, 0.1);
    EXPECT_NEAR(loudness.value(QStringLiteral("lra_lu")).toDouble(-1), 0.0, 0.1);
    EXPECT_NEAR(loudness.value(QStringLiteral("true_peak_dbfs")).toDouble(), -20.0, 0.2);
    EXPECT_NEAR(loudness.value(QStringLiteral("max_short_term_lufs")).toDouble(), -20.0, 0.1);

    const QString jobID = job.value(QStringLiteral("job_id")).toString();
    EXPECT_EQ(job.value(QStringLiteral("output_report")).toString(), QStringLiteral("/v1/jobs/%1/download/report").arg(jobID));
    const RawReply report = get(QStringLiteral("/v1/jobs/%1/download/report").arg(jobID));
    ASSERT_EQ(report.status, 200);
    const QString text = QString::fromUtf8(report.body);
    EXPECT_TRUE(text.startsWith(QStringLiteral("Vorlik audio analysis report\n"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("My \"tone\".wav")));
    EXPECT_TRUE(text.contains(QStringLiteral("Integrated:         -20.0 LUFS"))) << text.toStdString();

    // Nothing of the upload is left on the server's disk once the job has ended.
    EXPECT_TRUE(audioGone(jobID));
    EXPECT_EQ(filesIn(server().dataPath() + QStringLiteral("/uploads")), QStringList());
    EXPECT_EQ(filesIn(server().dataPath() + QStringLiteral("/jobs")), QStringList());
}

TEST_F(AnalysisApiTest, chaptersTagsAndOtherStreamsAreReported)
{
    const QString chapters = media(QStringLiteral("chapters.txt"));
    writeFile(chapters, ";FFMETADATA1\ntitle=Session\nartist=Vorlik\n"
                        "[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\nEND=1500\ntitle=Intro\n"
                        "[CHAPTER]\nTIMEBASE=1/1000\nSTART=1500\nEND=3000\ntitle=Verse\n");
    const QString subtitles = media(QStringLiteral("lyrics.srt"));
    writeFile(subtitles, "1\n00:00:00,000 --> 00:00:01,000\nla la\n");
    const QString file = TestMedia::make(
        media(QStringLiteral("session.mka")),
        {QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"), QStringLiteral("sine=frequency=1000:sample_rate=48000:duration=3"),
         QStringLiteral("-i"), chapters, QStringLiteral("-i"), subtitles, QStringLiteral("-map"), QStringLiteral("0:a"),
         QStringLiteral("-map"), QStringLiteral("2:s"), QStringLiteral("-map_metadata"), QStringLiteral("1"),
         QStringLiteral("-map_chapters"), QStringLiteral("1"), QStringLiteral("-c:a"), QStringLiteral("flac"),
         QStringLiteral("-c:s"), QStringLiteral("copy"), QStringLiteral("-metadata:s:a:0"), QStringLiteral("language=eng"), QStringLiteral("-metadata:s:a:0"),
         QStringLiteral("title=Main mix")});
    const QJsonObject job = calls().analyse(file);
    ASSERT_EQ(job.value(QStringLiteral("status")).toString(), QStringLiteral("COMPLETED"))
        << job.value(QStringLiteral("error_summary")).toString().toStdString();
    const QJsonObject analysis = job.value(QStringLiteral("analysis")).toObject();

    const QJsonObject container = analysis.value(QStringLiteral("container")).toObject();
    EXPECT_EQ(container.value(QStringLiteral("format_name")).toString(), QStringLiteral("matroska,webm"));
    EXPECT_EQ(container.value(QStringLiteral("nb_streams")).toInt(), 2);
    const QJsonObject tags = container.value(QStringLiteral("tags")).toObject();
    EXPECT_EQ(tags.value(QStringLiteral("title")).toString(), QStringLiteral("Session"));
    EXPECT_EQ(tags.value(QStringLiteral("ARTIST")).toString() + tags.value(QStringLiteral("artist")).toString(),
              QStringLiteral("Vorlik"));

    const QJsonObject stream = analysis.value(QStringLiteral("audio_streams")).toArray().at(0).toObject();
    EXPECT_EQ(stream.value(QStringLiteral("codec_name")).toString(), QStringLiteral("flac"));
    EXPECT_EQ(stream.value(QStringLiteral("language")).toString(), QStringLiteral("eng"));
    EXPECT_EQ(stream.value(QStringLiteral("channels")).toInt(), 1);
    EXPECT_EQ(stream.value(QStringLiteral("channel_layout")).toString(), QStringLiteral("mono"));
    // FLAC states no stream bit rate; the container's is the stream's effective one... unless
    // there is more than one stream, as here.
    EXPECT_FALSE(stream.contains(QStringLiteral("bit_rate_bps")));

    const QJsonArray others = analysis.value(QStringLiteral("other_streams")).toArray();
    ASSERT_EQ(others.size(), 1);
    EXPECT_EQ(others.at(0).toObject().value(QStringLiteral("codec_type")).toString(), QStringLiteral("subtitle"));

    const QJsonArray marks = analysis.value(QStringLiteral("chapters")).toArray();
    ASSERT_EQ(marks.size(), 2);
    EXPECT_EQ(marks.at(1).toObject().value(QStringLiteral("title")).toString(), QStringLiteral("Verse"));
    EXPECT_EQ(marks.at(1).toObject().value(QStringLiteral("start_hms")).toString(), QStringLiteral("00:00:01.500"));
    EXPECT_EQ(marks.at(1).toObject().value(QStringLiteral("end_hms")).toString(), QStringLiteral("00:00:03.000"));
}

TEST_F(AnalysisApiTest, silenceHasNoLoudnessButStillCompletes)
{
    const QJsonObject job = calls().analyse(TestMedia::silence(media(QStringLiteral("quiet.wav")), QStringLiteral("stereo"), 1.0));
    ASSERT_EQ(job.value(QStringLiteral("status")).toString(), QStringLiteral("COMPLETED"));
    const QJsonObject analysis = job.value(QStringLiteral("analysis")).toObject();
    const QJsonObject loudness = analysis.value(QStringLiteral("loudness")).toObject();
    EXPECT_FALSE(loudness.contains(QStringLiteral("integrated_lufs")));
    EXPECT_FALSE(loudness.contains(QStringLiteral("true_peak_dbfs")));
    const QJsonObject levels = analysis.value(QStringLiteral("levels")).toObject();
    EXPECT_FALSE(levels.contains(QStringLiteral("peak_dbfs")));
    EXPECT_EQ(levels.value(QStringLiteral("sample_count")).toInteger(), 48000);
}

TEST_F(AnalysisApiTest, filesThatAreNotAudioFailWithAReason)
{
    writeFile(media(QStringLiteral("notes.wav")), "these are words, not sound\n");
    QJsonObject job = calls().analyse(media(QStringLiteral("notes.wav")));
    ASSERT_EQ(job.value(QStringLiteral("status")).toString(), QStringLiteral("FAILED"));
    const QString summary = job.value(QStringLiteral("error_summary")).toString();
    EXPECT_TRUE(summary.startsWith(QStringLiteral("ffprobe could not read the file: "))) << summary.toStdString();
    EXPECT_FALSE(summary.contains(server().dataPath())) << "the server's own paths stay private";
    EXPECT_FALSE(job.contains(QStringLiteral("analysis")));
    const RawReply report = get(QStringLiteral("/v1/jobs/%1/download/report").arg(job.value(QStringLiteral("job_id")).toString()));
    EXPECT_EQ(report.status, 409);
    EXPECT_EQ(errorOf(report.body), QStringLiteral("the job has no report (status FAILED)"));

    const QString subtitles = media(QStringLiteral("only.srt"));
    writeFile(subtitles, "1\n00:00:00,000 --> 00:00:01,000\nno sound here\n");
    job = calls().analyse(subtitles);
    EXPECT_EQ(job.value(QStringLiteral("status")).toString(), QStringLiteral("FAILED"));
    EXPECT_EQ(job.value(QStringLiteral("error_summary")).toString(), QStringLiteral("the file holds no audio stream"));
}

TEST_F(AnalysisApiTest, uploadsNeedABearerAndAFileField)
{
    const QByteArray boundary = "b0undary";
    const QByteArray wav = readFile(tone(QStringLiteral("t.wav"), -20, 0.2));
    RawReply reply = rawCall(server().baseUrl(), "POST", QStringLiteral("/v1/uploads"), multipartBody(boundary, wav), {},
                             multipartType(boundary));
    EXPECT_EQ(reply.status, 401);
    reply = rawCall(server().baseUrl(), "POST", QStringLiteral("/v1/uploads"), multipartBody(boundary, wav),
                    QStringLiteral("vat_not_a_token"), multipartType(boundary));
    EXPECT_EQ(reply.status, 401);

    reply = post(QStringLiteral("/v1/uploads"), R"({"file":"t.wav"})");
    EXPECT_EQ(reply.status, 400);
    EXPECT_EQ(errorOf(reply.body), QStringLiteral("the body must be multipart/form-data with a \"file\" field"));

    reply = rawCall(server().baseUrl(), "POST", QStringLiteral("/v1/uploads"),
                    multipartBody(boundary, wav, QStringLiteral("t.wav"), "attachment"), s_bearer, multipartType(boundary));
    EXPECT_EQ(reply.status, 400);
    EXPECT_EQ(errorOf(reply.body), QStringLiteral("the form has no \"file\" field"));

    // A body that stops before its closing boundary.
    QByteArray cut = multipartBody(boundary, wav);
    cut.chop(boundary.size() + 8);
    reply = rawCall(server().baseUrl(), "POST", QStringLiteral("/v1/uploads"), cut, s_bearer, multipartType(boundary));
    EXPECT_EQ(reply.status, 400);
    EXPECT_EQ(filesIn(server().dataPath() + QStringLiteral("/uploads")), QStringList()) << "a refused upload is not kept";

    reply = rawCall(server().baseUrl(), "POST", QStringLiteral("/v1/uploads"), multipartBody(boundary, wav, QStringLiteral("ok.wav")),
                    s_bearer, multipartType(boundary));
    ASSERT_EQ(reply.status, 200) << reply.body.toStdString();
    const QJsonObject answer = jsonObject(reply.body);
    EXPECT_TRUE(answer.value(QStringLiteral("upload_id")).toString().startsWith(QStringLiteral("up_")));
    EXPECT_EQ(answer.value(QStringLiteral("size_bytes")).toInteger(), wav.size());
    EXPECT_EQ(answer.value(QStringLiteral("file_name")).toString(), QStringLiteral("ok.wav"));
    EXPECT_EQ(filesIn(server().dataPath() + QStringLiteral("/uploads")).size(), 1);
    EXPECT_EQ(readFile(server().dataPath() + QStringLiteral("/uploads/") + filesIn(server().dataPath() + QStringLiteral("/uploads")).front()),
              wav)
        << "the bytes are stored unchanged";
    // Start a job on it, so the upload folder is empty again for the tests that follow.
    EXPECT_EQ(post(QStringLiteral("/v1/jobs/%1/process").arg(answer.value(QStringLiteral("upload_id")).toString()),
                   R"({"workflow":"audio_info"})").status, 202);
}

TEST_F(AnalysisApiTest, processWantsAudioInfoOnAnUploadUsedOnce)
{
    const RawReply uploaded = calls().upload(readFile(tone(QStringLiteral("t.wav"), -20, 0.2)), QStringLiteral("t.wav"));
    const QString uploadID = jsonObject(uploaded.body).value(QStringLiteral("upload_id")).toString();
    const QString path = QStringLiteral("/v1/jobs/%1/process").arg(uploadID);

    RawReply reply = post(path, R"({"workflow":"video_info"})");
    EXPECT_EQ(reply.status, 400);
    EXPECT_EQ(errorOf(reply.body), QStringLiteral("unknown workflow \"video_info\" (this service runs audio_info)"));
    EXPECT_EQ(post(path, R"({})").status, 400);
    EXPECT_EQ(post(path, R"({"workflow":7})").status, 400);
    EXPECT_EQ(post(QStringLiteral("/v1/jobs/up_nope/process"), R"({"workflow":"audio_info"})").status, 404);
    EXPECT_EQ(rawCall(server().baseUrl(), "POST", path, R"({"workflow":"audio_info"})").status, 401);

    reply = post(path, R"({"workflow":"audio_info"})");
    ASSERT_EQ(reply.status, 202);
    EXPECT_TRUE(jsonObject(reply.body).value(QStringLiteral("job_id")).toString().startsWith(QStringLiteral("job_")));
    EXPECT_EQ(jsonObject(reply.body).value(QStringLiteral("status")).toString(), QStringLiteral("QUEUED"));
    reply = post(path, R"({"workflow":"audio_info"})");
    EXPECT_EQ(reply.status, 404) << "an upload starts one job only";
}

TEST_F(AnalysisApiTest, jobsAndUploadsBelongToTheirClient)
{
    DevServer own({QStringLiteral("--key"), QStringLiteral("vk_second_client_key")});
    const QString first = activateDemo(own).value(QStringLiteral("access_token")).toString();
    const auto [status, body] = own.call("POST", QStringLiteral("/v1/auth/activate"),
                                         R"({"api_key":"vk_second_client_key","installation_label":"Vorlik Desktop"})");
    ASSERT_EQ(status, 200);
    const QString second = jsonObject(body).value(QStringLiteral("access_token")).toString();

    const AnalysisCalls mine{own, first};
    const QString file = tone(QStringLiteral("t.wav"), -20, 0.2);
    const RawReply uploaded = mine.upload(readFile(file), QStringLiteral("t.wav"));
    const QString uploadID = jsonObject(uploaded.body).value(QStringLiteral("upload_id")).toString();
    EXPECT_EQ(rawCall(own.baseUrl(), "POST", QStringLiteral("/v1/jobs/%1/process").arg(uploadID), R"({"workflow":"audio_info"})", second).status,
              404);
    const RawReply started =
        rawCall(own.baseUrl(), "POST", QStringLiteral("/v1/jobs/%1/process").arg(uploadID), R"({"workflow":"audio_info"})", first);
    ASSERT_EQ(started.status, 202);
    const QString jobID = jsonObject(started.body).value(QStringLiteral("job_id")).toString();
    EXPECT_EQ(rawCall(own.baseUrl(), "GET", QStringLiteral("/v1/jobs/") + jobID, {}, second).status, 404);
    EXPECT_EQ(rawCall(own.baseUrl(), "POST", QStringLiteral("/v1/jobs/%1/cancel").arg(jobID), {}, second).status, 404);
    EXPECT_EQ(mine.waitForEnd(jobID).value(QStringLiteral("status")).toString(), QStringLiteral("COMPLETED"));
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
    EXPECT_EQ(calls().analyse(file).value(QStringLiteral("status")).toString(), QStringLiteral("FAILED"));
    EXPECT_EQ(calls().analyse(file).value(QStringLiteral("status")).toString(), QStringLiteral("COMPLETED"));

    calls().behave({{QStringLiteral("outcome"), QStringLiteral("fail")}, {QStringLiteral("count"), -1}});
    EXPECT_EQ(calls().analyse(file).value(QStringLiteral("status")).toString(), QStringLiteral("FAILED"));
    server().clearFaults();
    EXPECT_EQ(calls().analyse(file).value(QStringLiteral("status")).toString(), QStringLiteral("COMPLETED"));

    // A delay holds the job back, then it completes normally.
    calls().behave({{QStringLiteral("delay_ms"), 300}});
    const QString jobID = calls().startJob(file);
    EXPECT_EQ(calls().jobEntry(jobID).value(QStringLiteral("behaviour")).toObject().value(QStringLiteral("delay_ms")).toInt(), 300);
    EXPECT_EQ(calls().waitForEnd(jobID).value(QStringLiteral("status")).toString(), QStringLiteral("COMPLETED"));

    for (const char *bad : {R"({"outcome":"explode"})", R"({"delay_ms":-1})", R"({"delay_ms":"1"})", R"({"count":0})",
                            R"({"error_summary":5})"}) {
        const auto [status, body] = server().call("POST", QStringLiteral("/admin/jobs"), bad);
        EXPECT_EQ(status, 400) << bad;
    }
}

TEST_F(AnalysisApiTest, aHangingJobStaysRunningUntilCancelled)
{
    calls().behave({{QStringLiteral("outcome"), QStringLiteral("hang")}});
    const QString jobID = calls().startJob(tone(QStringLiteral("t.wav"), -20, 0.2));
    ASSERT_FALSE(jobID.isEmpty());
    for (int i = 0; i < 5; ++i) {
        const QString state = calls().jobStatus(jobID).value(QStringLiteral("status")).toString();
        EXPECT_TRUE(state == QStringLiteral("RUNNING") || state == QStringLiteral("QUEUED")) << state.toStdString();
        QThread::msleep(60);
    }
    // Other requests are served meanwhile.
    EXPECT_EQ(get(QStringLiteral("/health")).status, 200);

    RawReply reply = post(QStringLiteral("/v1/jobs/%1/cancel").arg(jobID));
    EXPECT_EQ(reply.status, 202);
    EXPECT_EQ(jsonObject(reply.body).value(QStringLiteral("status")).toString(), QStringLiteral("CANCELLED"));
    const QJsonObject job = calls().jobStatus(jobID);
    EXPECT_EQ(job.value(QStringLiteral("status")).toString(), QStringLiteral("CANCELLED"));
    EXPECT_FALSE(job.contains(QStringLiteral("analysis")));
    reply = post(QStringLiteral("/v1/jobs/%1/cancel").arg(jobID));
    EXPECT_EQ(reply.status, 200) << "cancelling an ended job changes nothing";
    EXPECT_EQ(jsonObject(reply.body).value(QStringLiteral("status")).toString(), QStringLiteral("CANCELLED"));
    EXPECT_EQ(post(QStringLiteral("/v1/jobs/job_unknown/cancel")).status, 404);
    EXPECT_EQ(get(QStringLiteral("/v1/jobs/%1/download/report").arg(jobID)).status, 409);
    EXPECT_TRUE(audioGone(jobID));
}

TEST_F(AnalysisApiTest, aReleasedHangingJobCompletes)
{
    calls().behave({{QStringLiteral("outcome"), QStringLiteral("hang")}});
    const QString jobID = calls().startJob(tone(QStringLiteral("t.wav"), -20, 0.2));
    EXPECT_NE(calls().jobStatus(jobID).value(QStringLiteral("status")).toString(), QStringLiteral("COMPLETED"));
    const auto [status, body] = server().call("POST", QStringLiteral("/admin/jobs/release"));
    EXPECT_EQ(status, 200);
    EXPECT_EQ(jsonObject(body).value(QStringLiteral("released")).toInt(), 1);
    EXPECT_EQ(calls().waitForEnd(jobID).value(QStringLiteral("status")).toString(), QStringLiteral("COMPLETED"));
}

TEST_F(AnalysisApiTest, cancellingARealAnalysisStopsIt)
{
    // Long enough that the cancel arrives while ffmpeg is still decoding.
    const QString file = TestMedia::make(media(QStringLiteral("long.flac")),
                                         {QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
                                          QStringLiteral("anoisesrc=d=600:r=48000:a=0.3"), QStringLiteral("-ac"),
                                          QStringLiteral("2"), QStringLiteral("-c:a"), QStringLiteral("flac"),
                                          QStringLiteral("-compression_level"), QStringLiteral("0")});
    const QString jobID = calls().startJob(file);
    ASSERT_FALSE(jobID.isEmpty());
    EXPECT_EQ(post(QStringLiteral("/v1/jobs/%1/cancel").arg(jobID)).status, 202);
    EXPECT_TRUE(audioGone(jobID));
    EXPECT_EQ(calls().jobStatus(jobID).value(QStringLiteral("status")).toString(), QStringLiteral("CANCELLED"));
}

TEST_F(AnalysisApiTest, unknownJobsAre404AndEveryEndpointWantsABearer)
{
    EXPECT_EQ(get(QStringLiteral("/v1/jobs/job_nope/download/report")).status, 404);
    for (const auto &[method, path] : {std::pair<QByteArray, QString>{"GET", QStringLiteral("/v1/jobs/job_x")},
                                       {"GET", QStringLiteral("/v1/jobs/job_x/download/report")},
                                       {"POST", QStringLiteral("/v1/jobs/job_x/cancel")}})
        EXPECT_EQ(rawCall(server().baseUrl(), method, path).status, 401) << path.toStdString();
}

TEST(AnalysisServerProcess, theJobDelayFlagHoldsEveryJobBack)
{
    DevServer own({QStringLiteral("--job-delay-ms"), QStringLiteral("250")});
    const AnalysisCalls calls{own, activateDemo(own).value(QStringLiteral("access_token")).toString()};
    QTemporaryDir media;
    const QString file = TestMedia::sine(media.filePath(QStringLiteral("a.wav")), 0.2);
    const QString jobID = calls.startJob(file);
    EXPECT_EQ(calls.jobEntry(jobID).value(QStringLiteral("behaviour")).toObject().value(QStringLiteral("delay_ms")).toInt(), 250);
    EXPECT_EQ(calls.waitForEnd(jobID).value(QStringLiteral("status")).toString(), QStringLiteral("COMPLETED"));

    QProcess bad;
    bad.start(QStringLiteral(VORLIK_DEVSERVER_PATH), {QStringLiteral("--job-delay-ms"), QStringLiteral("-5")});
    ASSERT_TRUE(bad.waitForFinished(10000));
    EXPECT_EQ(bad.exitCode(), 2);
    EXPECT_TRUE(bad.readAllStandardError().contains("--job-delay-ms"));
}

TEST(AnalysisServerProcess, stoppingTheServerEndsItsJobsAndRemovesTheirFiles)
{
    QTemporaryDir data;
    QProcess process;
    process.start(QStringLiteral(VORLIK_DEVSERVER_PATH), {QStringLiteral("--data"), data.path()});
    ASSERT_TRUE(process.waitForStarted());
    while (!process.canReadLine())
        ASSERT_TRUE(process.waitForReadyRead(10000));
    const QUrl base(QString::fromUtf8(process.readLine()).trimmed().mid(13));
    const RawReply session = rawCall(base, "POST", QStringLiteral("/v1/auth/activate"),
                                     R"({"api_key":"vk_demo_local_0000000000000000","installation_label":"x"})");
    const QString bearer = jsonObject(session.body).value(QStringLiteral("access_token")).toString();
    ASSERT_EQ(rawCall(base, "POST", QStringLiteral("/admin/jobs"), R"({"outcome":"hang","count":-1})").status, 200);

    QTemporaryDir media;
    const QByteArray wav = readFile(TestMedia::sine(media.filePath(QStringLiteral("a.wav")), 0.2));
    const QByteArray boundary = "b";
    for (int i = 0; i < 2; ++i) {
        const RawReply uploaded = rawCall(base, "POST", QStringLiteral("/v1/uploads"), multipartBody(boundary, wav), bearer,
                                          multipartType(boundary));
        const QString uploadID = jsonObject(uploaded.body).value(QStringLiteral("upload_id")).toString();
        if (i == 0) { // one hanging job, one upload never used
            EXPECT_EQ(rawCall(base, "POST", QStringLiteral("/v1/jobs/%1/process").arg(uploadID), R"({"workflow":"audio_info"})",
                              bearer).status, 202);
        }
    }
    EXPECT_EQ(filesIn(data.filePath(QStringLiteral("uploads"))).size(), 1);
    EXPECT_EQ(filesIn(data.filePath(QStringLiteral("jobs"))).size(), 1);

    process.terminate();
    EXPECT_TRUE(process.waitForFinished(10000)) << "a hanging job must not hold the server up";
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 0);
    EXPECT_EQ(filesIn(data.filePath(QStringLiteral("uploads"))), QStringList());
    EXPECT_EQ(filesIn(data.filePath(QStringLiteral("jobs"))), QStringList());
}

} // namespace
