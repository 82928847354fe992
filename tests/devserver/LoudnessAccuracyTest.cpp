// How exactly the stand-in service measures loudness: EBU Tech 3341-style sine tests against
// their known loudness, and the same files against ffmpeg's own ebur128 filter.
//
// Level convention: dBFS here is the level of a sine by its peak (a full-scale sine is 0 dBFS,
// as in AES17 and Tech 3341). A 1 kHz sine of peak amplitude A in both channels of a stereo
// file has a mean square of A²/2 per channel, so the two channels together give A²; the K filter
// adds +0.691 dB at 1 kHz, which BS.1770's -0.691 dB offset takes away again. Its loudness is
// therefore 20·log10(A) LUFS, and a generator amplitude of 10^(L/20) gives exactly L LUFS.
#include "tests/convert/TestMedia.h"
#include "tests/devserver/DevServerCalls.h"

#include <gtest/gtest.h>

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <cmath>

using namespace vorlik::test;

namespace {

struct R128Summary {
    double integrated = NAN;
    double range = NAN;
    double truePeak = NAN;
};

// ffmpeg's ebur128 filter on the file, from its closing summary (one decimal).
R128Summary ffmpegSummary(const QString &file)
{
    QProcess ffmpeg;
    ffmpeg.start(TestMedia::ffmpeg(), {QStringLiteral("-nostats"), QStringLiteral("-hide_banner"), QStringLiteral("-i"), file,
                                       QStringLiteral("-af"), QStringLiteral("ebur128=peak=true"), QStringLiteral("-f"),
                                       QStringLiteral("null"), QStringLiteral("-")});
    EXPECT_TRUE(ffmpeg.waitForFinished(120000));
    const QString log = QString::fromUtf8(ffmpeg.readAllStandardError());
    const QString summary = log.mid(log.lastIndexOf(QStringLiteral("Summary:")));
    const auto figure = [&](const char *pattern) {
        const QRegularExpressionMatch match = QRegularExpression(QString::fromLatin1(pattern)).match(summary);
        return match.hasMatch() ? match.captured(1).toDouble() : NAN;
    };
    return {figure(R"(I:\s+(-?[0-9.]+) LUFS)"), figure(R"(LRA:\s+(-?[0-9.]+) LU)"), figure(R"(Peak:\s+(-?[0-9.]+) dBFS)")};
}

class LoudnessAccuracyTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        DevServer::shared().reset();
        if (s_bearer.isEmpty())
            s_bearer = activateDemo(DevServer::shared()).value(QStringLiteral("access_token")).toString();
    }

    QJsonObject loudnessOf(const QString &file) const
    {
        const QJsonObject job = AnalysisCalls{DevServer::shared(), s_bearer}.analyse(file);
        EXPECT_EQ(job.value(QStringLiteral("status")).toString(), QStringLiteral("COMPLETED"))
            << job.value(QStringLiteral("error_summary")).toString().toStdString();
        return job.value(QStringLiteral("analysis")).toObject().value(QStringLiteral("loudness")).toObject();
    }

    // Channels given as aevalsrc expressions, one per channel of `layout`; 48 kHz 24-bit WAV.
    QString generate(const QString &name, const QStringList &channels, const QString &layout, double seconds)
    {
        return TestMedia::make(m_media.filePath(name),
                               {QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
                                QStringLiteral("aevalsrc=exprs=%1:s=48000:d=%2:c=%3").arg(channels.join(u'|')).arg(seconds).arg(layout),
                                QStringLiteral("-c:a"), QStringLiteral("pcm_s24le")});
    }

    static QString sine(double dbfs) { return QStringLiteral("sin(2*PI*1000*t)*pow(10\\,%1/20)").arg(dbfs); }

    QTemporaryDir m_media;
    static inline QString s_bearer;
};

TEST_F(LoudnessAccuracyTest, sinesMeasureTheirTargetAndWhatFFmpegMeasuresWhateverTheLayout)
{
    const struct { const char *name; QStringList channels; const char *layout; double seconds, target; } cases[] = {
        {"sine23.wav", {sine(-23), sine(-23)}, "stereo", 20, -23.0},
        {"sine33.wav", {sine(-33), sine(-33)}, "stereo", 20, -33.0},
        // 5.1: front left and right, centre, LFE (loud, and not counted), two surrounds (+1.5 dB).
        {"surround.wav", {sine(-20), sine(-26), sine(-30), sine(-6), sine(-24), sine(-28)}, "5.1", 10, NAN},
        // Layouts that are not the default for their channel count are not remixed: a loud back
        // centre (the default for three is 2.1, which would fold it into the fronts and lose its
        // +1.5 dB), and 7.1(wide), whose front centre pair a remix to 7.1 would move.
        {"back.wav", {sine(-30), sine(-30), sine(-18)}, "3.0(back)", 8, NAN},
        {"wide.wav", {sine(-30), sine(-30), sine(-30), sine(-10), sine(-40), sine(-40), sine(-16), sine(-16)}, "7.1(wide)", 8, NAN},
    };
    for (const auto &c : cases) {
        const QString file = generate(QLatin1String(c.name), c.channels, QLatin1String(c.layout), c.seconds);
        const double measured = loudnessOf(file).value(QStringLiteral("integrated_lufs")).toDouble(NAN);
        if (!std::isnan(c.target))
            EXPECT_NEAR(measured, c.target, 0.1) << c.name;
        EXPECT_NEAR(measured, ffmpegSummary(file).integrated, 0.1) << c.name;
        if (QLatin1String(c.layout) == QLatin1String("5.1")) { // the same without the LFE channel's signal measures the same
            QStringList quietLfe = c.channels;
            quietLfe[3] = QStringLiteral("0");
            const QString quiet = generate(QStringLiteral("surround-quiet-lfe.wav"), quietLfe, QStringLiteral("5.1"), c.seconds);
            EXPECT_NEAR(loudnessOf(quiet).value(QStringLiteral("integrated_lufs")).toDouble(NAN), measured, 0.01);
        }
    }
}

TEST_F(LoudnessAccuracyTest, loudnessRangeAndTruePeakAgreeWithFFmpeg)
{
    // Ten seconds at -20, then ten at -30 LUFS: a range of about 10 LU.
    const QString level = QStringLiteral("if(lt(t\\,10)\\,pow(10\\,-20/20)\\,pow(10\\,-30/20))");
    const QString channel = QStringLiteral("sin(2*PI*1000*t)*") + level;
    const QString file = generate(QStringLiteral("steps.wav"), {channel, channel}, QStringLiteral("stereo"), 20);
    const QJsonObject loudness = loudnessOf(file);
    const R128Summary reference = ffmpegSummary(file);
    EXPECT_NEAR(loudness.value(QStringLiteral("lra_lu")).toDouble(NAN), reference.range, 0.3);
    EXPECT_NEAR(loudness.value(QStringLiteral("lra_high_lufs")).toDouble(NAN) - loudness.value(QStringLiteral("lra_low_lufs")).toDouble(NAN),
                loudness.value(QStringLiteral("lra_lu")).toDouble(NAN), 1e-9);
    EXPECT_NEAR(loudness.value(QStringLiteral("true_peak_dbfs")).toDouble(NAN), reference.truePeak, 0.2);
    EXPECT_NEAR(loudness.value(QStringLiteral("max_momentary_lufs")).toDouble(NAN), -20.0, 0.1);
    EXPECT_NEAR(loudness.value(QStringLiteral("max_short_term_lufs")).toDouble(NAN), -20.0, 0.1);
}

} // namespace
