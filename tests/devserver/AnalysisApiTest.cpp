#include "tests/convert/TestMedia.h"
#include "tests/devserver/DevServerCalls.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QJsonArray>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>

using namespace vorlik::test;

namespace {

DevServer &server() { return DevServer::shared(); }

QString errorOf(const QByteArray &body) { return jsonObject(body).value(QStringLiteral("error")).toString(); }
QString statusOf(const QJsonObject &job) { return job.value(QStringLiteral("status")).toString(); }
QStringList filesIn(const QString &folder) { return QDir(folder).entryList(QDir::Files | QDir::Hidden); }

// Expects each path of the document to hold its value.
void expectFields(const QJsonValue &document, std::initializer_list<std::pair<const char *, QJsonValue>> fields)
{
    for (const auto &[path, value] : fields)
        EXPECT_EQ(at(document, path), value) << path;
}

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

    // Channels given as aevalsrc expressions, one per channel of `layout`; 48 kHz 24-bit WAV.
    QString generate(const QString &name, const QStringList &channels, const QString &layout, double seconds)
    {
        return TestMedia::make(media(name), {QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
                                             QStringLiteral("aevalsrc=exprs=%1:s=48000:d=%2:c=%3").arg(channels.join(u'|')).arg(seconds).arg(layout),
                                             QStringLiteral("-c:a"), QStringLiteral("pcm_s24le")});
    }
    // A 1 kHz sine peaking at `dbfs`; in both channels of a stereo file that is also its loudness
    // in LUFS (the K filter's +0.691 dB at 1 kHz is what BS.1770's offset takes away).
    static QString sine(double dbfs) { return QStringLiteral("sin(2*PI*1000*t)*pow(10\\,%1/20)").arg(dbfs); }
    QString tone(const QString &name, double dbfs, double seconds = 3) { return generate(name, {sine(dbfs), sine(dbfs)}, QStringLiteral("stereo"), seconds); }

    QJsonObject loudnessOf(const QString &file) const
    {
        const QJsonObject job = calls().analyse(file);
        EXPECT_EQ(statusOf(job), QStringLiteral("COMPLETED")) << job.value(QStringLiteral("error_summary")).toString().toStdString();
        return at(job, "analysis/loudness").toObject();
    }

    // Waits until the job's worker has let go of its audio file.
    bool audioGone(const QString &jobID) const
    {
        return QTest::qWaitFor([&] { return !calls().jobEntry(jobID).value(QStringLiteral("audio_on_disk")).toBool(true); }, 30000);
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
    expectFields(job.value(QStringLiteral("analysis")),
                 {{"file/name", "My \"tone\".wav"}, {"container/format_name", "wav"}, {"container/duration_hms", "00:00:03.000"},
                  {"container/size_bytes", QString::number(QFileInfo(media(QStringLiteral("tone.wav"))).size())},
                  {"container/nb_streams", 1}, {"audio_streams/0/codec_name", "pcm_s24le"}, {"audio_streams/0/sample_rate_hz", "48000"},
                  {"audio_streams/0/channels", 2}, {"audio_streams/0/bit_rate_bps", "2304000"}, {"audio_streams/1", QJsonValue::Undefined},
                  {"other_streams", QJsonArray()}, {"chapters", QJsonArray()}, {"levels/sample_count", 3 * 48000}});
    EXPECT_TRUE(at(job, "analysis/engine/ffprobe").toString().startsWith(QStringLiteral("ffprobe version ")));
    EXPECT_TRUE(at(job, "analysis/engine/measurement_backend").toString().startsWith(QStringLiteral("libebur128 1.")));
    // A sine peaking at -20 dBFS: RMS 3.01 dB lower; loudness -20 LUFS (1 kHz, both channels).
    const struct { const char *path; double expected, tolerance; } figures[] = {
        {"levels/peak_dbfs", -20.0, 0.01}, {"levels/rms_dbfs", -23.01, 0.02}, {"levels/noise_floor_dbfs", -20.0, 0.1},
        {"loudness/integrated_lufs", -20.0, 0.1}, {"loudness/threshold_lufs", -30.0, 0.1}, {"loudness/lra_lu", 0.0, 0.1},
        {"loudness/true_peak_dbfs", -20.0, 0.2}, {"loudness/max_short_term_lufs", -20.0, 0.1}};
    for (const auto &figure : figures)
        EXPECT_NEAR(at(job.value(QStringLiteral("analysis")), figure.path).toDouble(NAN), figure.expected, figure.tolerance) << figure.path;

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
    // FLAC states no stream bit rate, and with more than one stream the container's is not the stream's.
    expectFields(job.value(QStringLiteral("analysis")),
                 {{"container/format_name", "matroska,webm"}, {"container/nb_streams", 2}, {"container/tags/title", "Session"},
                  {"audio_streams/0/codec_name", "flac"}, {"audio_streams/0/language", "eng"}, {"audio_streams/0/channel_layout", "mono"},
                  {"audio_streams/0/bit_rate_bps", QJsonValue::Undefined}, {"other_streams/0/codec_type", "subtitle"},
                  {"other_streams/1", QJsonValue::Undefined}, {"chapters/1/title", "Verse"}, {"chapters/1/start_hms", "00:00:01.500"},
                  {"chapters/1/end_hms", "00:00:03.000"}, {"chapters/2", QJsonValue::Undefined}});
    EXPECT_EQ(at(job, "analysis/container/tags/ARTIST").toString() + at(job, "analysis/container/tags/artist").toString(), QStringLiteral("Vorlik"));
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
    expectFields(jsonObject(reply.body), {{"size_bytes", wav.size()}, {"file_name", "ok.wav"}});
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
    const AnalysisCalls mine{own, activateDemo(own).value(QStringLiteral("access_token")).toString()};
    const QString second = jsonObject(own.call("POST", QStringLiteral("/v1/auth/activate"), R"({"api_key":"vk_second_client_key"})").second)
                               .value(QStringLiteral("access_token")).toString();
    const QString otherPath = QStringLiteral("/v1/jobs/%1/process").arg(jsonObject(mine.upload(wav, QStringLiteral("t.wav")).body).value(QStringLiteral("upload_id")).toString());
    EXPECT_EQ(rawCall(own.baseUrl(), "POST", otherPath, R"({"workflow":"audio_info"})", second).status, 404);
    const QString jobID = jsonObject(rawCall(own.baseUrl(), "POST", otherPath, R"({"workflow":"audio_info"})", mine.bearer).body).value(QStringLiteral("job_id")).toString();
    ASSERT_FALSE(second.isEmpty() || jobID.isEmpty());
    EXPECT_EQ(rawCall(own.baseUrl(), "GET", QStringLiteral("/v1/jobs/") + jobID, {}, second).status, 404);
    EXPECT_EQ(rawCall(own.baseUrl(), "POST", QStringLiteral("/v1/jobs/%1/cancel").arg(jobID), {}, second).status, 404);
    EXPECT_EQ(at(mine.jobEntry(jobID), "behaviour/delay_ms").toInt(), 250);
    EXPECT_EQ(statusOf(mine.waitForEnd(jobID)), QStringLiteral("COMPLETED"));
}

TEST_F(AnalysisApiTest, behavioursApplyForTheirCountAndGoWithTheFaults)
{
    const QString file = tone(QStringLiteral("t.wav"), -20, 0.2);
    calls().behave({{QStringLiteral("outcome"), QStringLiteral("fail")}, {QStringLiteral("count"), 2}});
    const QJsonObject failed = calls().analyse(file);
    EXPECT_EQ(failed.value(QStringLiteral("error_summary")).toString(), QStringLiteral("injected failure"));
    EXPECT_TRUE(audioGone(failed.value(QStringLiteral("job_id")).toString()));
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

TEST_F(AnalysisApiTest, aCancelStopsARealAnalysisAndAHangingJobRunsUntilReleased)
{
    // Long enough that the cancel arrives while ffmpeg is still decoding.
    const QString file = TestMedia::make(media(QStringLiteral("long.flac")),
        QStringLiteral("-f lavfi -i anoisesrc=d=600:r=48000:a=0.3 -ac 2 -c:a flac -compression_level 0").split(QLatin1Char(' ')));
    const QString jobID = calls().startJob(file);
    ASSERT_FALSE(jobID.isEmpty());
    RawReply reply = post(QStringLiteral("/v1/jobs/%1/cancel").arg(jobID));
    EXPECT_EQ(reply.status, 202);
    EXPECT_EQ(statusOf(jsonObject(reply.body)), QStringLiteral("CANCELLED"));
    EXPECT_TRUE(audioGone(jobID));
    const QJsonObject job = calls().jobStatus(jobID);
    EXPECT_EQ(statusOf(job), QStringLiteral("CANCELLED"));
    EXPECT_FALSE(job.contains(QStringLiteral("analysis")));
    reply = post(QStringLiteral("/v1/jobs/%1/cancel").arg(jobID));
    EXPECT_EQ(reply.status, 200) << "cancelling an ended job changes nothing";
    EXPECT_EQ(statusOf(jsonObject(reply.body)), QStringLiteral("CANCELLED"));
    EXPECT_EQ(get(QStringLiteral("/v1/jobs/%1/download/report").arg(jobID)).status, 409);

    calls().behave({{QStringLiteral("outcome"), QStringLiteral("hang")}});
    const QString released = calls().startJob(tone(QStringLiteral("t.wav"), -20, 0.2));
    EXPECT_EQ(get(QStringLiteral("/health")).status, 200); // other requests are served meanwhile
    EXPECT_NE(statusOf(calls().jobStatus(released)), QStringLiteral("COMPLETED"));
    const auto [status, body] = server().call("POST", QStringLiteral("/admin/jobs/release"));
    EXPECT_EQ(status, 200);
    EXPECT_EQ(jsonObject(body).value(QStringLiteral("released")).toInt(), 1);
    EXPECT_EQ(statusOf(calls().waitForEnd(released)), QStringLiteral("COMPLETED"));
}

TEST_F(AnalysisApiTest, sinesMeasureTheirTargetAndWhatFFmpegMeasuresWhateverTheLayoutAndTheLoudnessRange)
{
    // Ten seconds at -20, then ten at -30 LUFS: a range of about 10 LU.
    const QString steps = QStringLiteral("sin(2*PI*1000*t)*if(lt(t\\,10)\\,pow(10\\,-20/20)\\,pow(10\\,-30/20))");
    const struct { const char *name; QStringList channels; const char *layout; double seconds, target, loudest; } cases[] = {
        {"sine23.wav", {sine(-23), sine(-23)}, "stereo", 20, -23.0, -23.0},
        {"sine33.wav", {sine(-33), sine(-33)}, "stereo", 20, -33.0, -33.0},
        {"steps.wav", {steps, steps}, "stereo", 20, NAN, -20.0},
        // 5.1: front left and right, centre, LFE (loud, and not counted), two surrounds (+1.5 dB).
        {"surround.wav", {sine(-20), sine(-26), sine(-30), sine(-6), sine(-24), sine(-28)}, "5.1", 10, NAN, NAN},
        // Layouts that are not the default for their channel count are not remixed: a loud back
        // centre (the default for three is 2.1, which would fold it into the fronts and lose its
        // +1.5 dB), and 7.1(wide), whose front centre pair a remix to 7.1 would move.
        {"back.wav", {sine(-30), sine(-30), sine(-18)}, "3.0(back)", 8, NAN, NAN},
        {"wide.wav", {sine(-30), sine(-30), sine(-30), sine(-10), sine(-40), sine(-40), sine(-16), sine(-16)}, "7.1(wide)", 8, NAN, NAN},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const QString file = generate(QLatin1String(c.name), c.channels, QLatin1String(c.layout), c.seconds);
        const QJsonObject loudness = loudnessOf(file);
        const auto figure = [&](const char *name) { return loudness.value(QLatin1String(name)).toDouble(NAN); };
        const TestMedia::Loudness reference = TestMedia::loudness(file);
        const double measured = figure("integrated_lufs");
        if (!std::isnan(c.target))
            EXPECT_NEAR(measured, c.target, 0.1);
        for (const char *window : {"max_momentary_lufs", "max_short_term_lufs"})
            if (!std::isnan(c.loudest))
                EXPECT_NEAR(figure(window), c.loudest, 0.1) << window;
        EXPECT_NEAR(measured, reference.integrated, 0.1);
        EXPECT_NEAR(figure("lra_lu"), reference.range, 0.3);
        EXPECT_NEAR(figure("lra_high_lufs") - figure("lra_low_lufs"), figure("lra_lu"), 1e-9);
        EXPECT_NEAR(figure("true_peak_dbfs"), reference.truePeak, 0.2);
        if (QLatin1String(c.layout) == QLatin1String("5.1")) { // the same without the LFE channel's signal measures the same
            QStringList quietLfe = c.channels;
            quietLfe[3] = QStringLiteral("0");
            const QString quiet = generate(QStringLiteral("surround-quiet-lfe.wav"), quietLfe, QStringLiteral("5.1"), c.seconds);
            EXPECT_NEAR(loudnessOf(quiet).value(QStringLiteral("integrated_lufs")).toDouble(NAN), measured, 0.01);
        }
    }
}

} // namespace
