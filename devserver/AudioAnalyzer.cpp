#include "devserver/AudioAnalyzer.h"

#include "devserver/AstatsLevels.h"
#include "devserver/LoudnessMeter.h"
#include "devserver/ProbeDocument.h"
#include "devserver/ToolProcess.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QStandardPaths>

namespace vorlik::devserver {

namespace {

constexpr qsizetype probeOutputLimit = 32 << 20;

QString tool(const QString &name)
{
    const QString found = QStandardPaths::findExecutable(name);
    return found.isEmpty() ? name : found;
}

// The tools are told about a local file only; nothing a crafted upload names (playlists,
// references to URLs) is followed.
QStringList inputArguments(const QString &path)
{
    return {QStringLiteral("-protocol_whitelist"), QStringLiteral("file"), QStringLiteral("-i"),
            QStringLiteral("file:") + path};
}

// The last line of a tool's error stream that says something, with the server's own path
// replaced by the name the client knows.
QString lastErrorLine(const QByteArray &errorTail, const QString &path, const QString &fileName)
{
    const QList<QByteArray> lines = errorTail.split('\n');
    for (auto it = lines.crbegin(); it != lines.crend(); ++it) {
        QString line = QString::fromUtf8(*it).trimmed();
        if (line.isEmpty() || line.startsWith(QStringLiteral("[Parsed_astats")) || line == QStringLiteral("Conversion failed!"))
            continue;
        line.replace(QStringLiteral("file:") + path, fileName);
        line.replace(path, fileName);
        return line;
    }
    return QStringLiteral("no reason given");
}

void throwIfStopped(const ToolProcess::Outcome &outcome)
{
    if (outcome.stopped)
        throw AudioAnalyzer::Stopped();
}

} // namespace

AudioAnalyzer::AudioAnalyzer() : m_ffprobe(tool(QStringLiteral("ffprobe"))), m_ffmpeg(tool(QStringLiteral("ffmpeg"))) {}

QJsonObject AudioAnalyzer::engine() const
{
    std::call_once(m_engineOnce, [this] {
        m_engine = QJsonObject{{QStringLiteral("ffprobe"), ToolProcess::versionLine(m_ffprobe)},
                               {QStringLiteral("ffmpeg"), ToolProcess::versionLine(m_ffmpeg)},
                               {QStringLiteral("measurement_backend"), LoudnessMeter::backendName()}};
    });
    return m_engine;
}

QJsonObject AudioAnalyzer::probe(const QString &path, const QString &fileName, const std::function<bool()> &stop) const
{
    QByteArray output;
    bool tooLarge = false;
    const ToolProcess::Outcome outcome = ToolProcess::run(
        m_ffprobe,
        QStringList{QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-hide_banner"),
                    QStringLiteral("-print_format"), QStringLiteral("json"), QStringLiteral("-show_format"),
                    QStringLiteral("-show_streams"), QStringLiteral("-show_chapters")}
            + inputArguments(path),
        [&](const char *data, qsizetype size) {
            output.append(data, size);
            tooLarge = output.size() > probeOutputLimit;
            return !tooLarge;
        },
        stop);
    if (tooLarge)
        throw Failure("ffprobe described the file at more than 32 MiB; it is not analysed");
    throwIfStopped(outcome);
    if (!outcome.started)
        throw Failure(("ffprobe could not be started: " + outcome.startError).toStdString());
    if (!outcome.succeeded())
        throw Failure(("ffprobe could not read the file: " + lastErrorLine(outcome.errorTail, path, fileName)).toStdString());
    const QJsonDocument document = QJsonDocument::fromJson(output);
    if (!document.isObject())
        throw Failure("ffprobe gave no readable description of the file");
    return document.object();
}

QJsonObject AudioAnalyzer::analyse(const QString &path, const QString &fileName, const QString &workflow,
                                   const std::function<bool()> &stop) const
{
    const ProbeDocument described = ProbeDocument::fromProbe(probe(path, fileName, stop));
    if (described.audioStreams.isEmpty())
        throw Failure("the file holds no audio stream");
    if (described.channels < 1 || described.sampleRate < 1)
        throw Failure("the audio stream's channel count or sample rate is unknown");

    std::optional<LoudnessMeter> meter;
    try {
        meter.emplace(described.channels, described.sampleRate, described.channelLayout);
    } catch (const std::runtime_error &error) {
        throw Failure(error.what());
    }
    // The samples leave ffmpeg in the stream's own channel layout: "-ac N" alone would remix
    // any layout that is not ffmpeg's default for N channels (3.0(back) into 2.1, say), and the
    // meter weights each channel by the layout it was told.
    QStringList output{QStringLiteral("-map"), QStringLiteral("0:a:0"), QStringLiteral("-af")};
    if (LoudnessMeter::namesEveryChannel(described.channelLayout, described.channels))
        output << AstatsLevels::filter() + QStringLiteral(",aformat=channel_layouts=") + described.channelLayout;
    else
        output << AstatsLevels::filter() << QStringLiteral("-ac") << QString::number(described.channels);
    output << QStringLiteral("-ar") << QString::number(described.sampleRate) << QStringLiteral("-f") << QStringLiteral("f32le")
           << QStringLiteral("pipe:1");
    const ToolProcess::Outcome decoded = ToolProcess::run(
        m_ffmpeg,
        QStringList{QStringLiteral("-nostdin"), QStringLiteral("-hide_banner"), QStringLiteral("-nostats"),
                    QStringLiteral("-v"), QStringLiteral("info")}
            + inputArguments(path) + output,
        [&](const char *data, qsizetype size) {
            meter->addBytes(data, size);
            return true;
        },
        stop);
    throwIfStopped(decoded);
    if (!decoded.started)
        throw Failure(("ffmpeg could not be started: " + decoded.startError).toStdString());
    if (!decoded.succeeded())
        throw Failure(("ffmpeg could not decode the audio: " + lastErrorLine(decoded.errorTail, path, fileName)).toStdString());
    if (meter->frames() == 0)
        throw Failure("the audio stream holds no samples");

    QJsonObject levels = AstatsLevels::fromLog(decoded.errorTail);
    if (const auto peak = meter->samplePeakDbfs())
        levels.insert(QStringLiteral("peak_dbfs"), *peak);

    QJsonObject analysis{{QStringLiteral("workflow"), workflow},
                         {QStringLiteral("generated_at"), QDateTime::currentDateTimeUtc().toString(Qt::ISODate)},
                         {QStringLiteral("file"), QJsonObject{{QStringLiteral("name"), fileName}}},
                         {QStringLiteral("engine"), engine()},
                         {QStringLiteral("container"), described.container},
                         {QStringLiteral("audio_streams"), described.audioStreams},
                         {QStringLiteral("other_streams"), described.otherStreams},
                         {QStringLiteral("chapters"), described.chapters},
                         {QStringLiteral("levels"), levels},
                         {QStringLiteral("loudness"), meter->loudness()}};
    return analysis;
}

} // namespace vorlik::devserver
