// FFmpeg process execution: running ffmpeg, the channel probe, the error summary and the
// removal of partial outputs.
#include "convert/ConvertRunner.h"

#include "platform/Graphemes.h"
#include "platform/ProcessAwaiter.h"
#include "convert/ProcessBox.h"
#include "convert/StderrTail.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QStringDecoder>

namespace vorlik::convert {

QCoro::Task<ShellOutcome> ConvertRunner::runFFmpeg(QString ffmpeg, QStringList arguments,
                                                   std::function<void(QProcess &)> onProcess,
                                                   CancellationToken cancellation,
                                                   std::function<void(const FFmpegProgress &)> onProgress)
{
    QProcess process;
    process.setProgram(ffmpeg);
    process.setArguments(arguments);
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setProcessChannelMode(QProcess::SeparateChannels);

    // A stateful decoder joins a character split between two reads; bytes that are not UTF-8
    // become replacement characters instead of costing the whole chunk.
    StderrTail tail;
    QStringDecoder decoder(QStringDecoder::Utf8);
    // The progress is read from the same text the tail keeps; the tail is not changed by it.
    FFmpegProgress progress;
    auto drain = [&] {
        const QByteArray bytes = process.readAllStandardError();
        if (bytes.isEmpty())
            return;
        const QString text = decoder.decode(bytes);
        tail.append(text);
        if (onProgress && progress.read(text))
            onProgress(progress);
    };
    QObject::connect(&process, &QProcess::readyReadStandardError, &process, drain);

    ProcessBox box;
    const auto registration = cancellation.onCancel([&box] { box.requestTermination(); });
    box.store(&process);
    if (onProcess)
        onProcess(process);

    const platform::ProcessEnd end = co_await platform::ProcessAwaiter(process);
    box.clear();
    if (!end.launched)
        co_return ShellOutcome::failure(-1, end.launchError);
    // ffmpeg writes its final error lines just before it exits: read what is still buffered.
    drain();
    tail.append(decoder.decode(QByteArrayView()));
    if (end.succeeded())
        co_return ShellOutcome::success(tail.text());
    // A process ended by a signal reports the signal number; neither case is ever success.
    co_return ShellOutcome::failure(end.exitCode, tail.text());
}

QCoro::Task<std::optional<int>> ConvertRunner::probeChannelCount(QString ffmpeg, QString input,
                                                                 CancellationToken cancellation,
                                                                 std::function<void(QProcess &)> onProcess)
{
    QStringList arguments{QStringLiteral("-hide_banner"), QStringLiteral("-i"), input};
    QCoro::Task<ShellOutcome> probing = runFFmpeg(ffmpeg, arguments, std::move(onProcess), cancellation);
    ShellOutcome outcome = co_await probing;
    // Without an output file ffmpeg ends with an error after describing the input: that is the
    // useful case. A clean exit tells nothing.
    if (outcome.isSuccess())
        co_return std::nullopt;
    co_return parseChannelCount(outcome.stderrTail());
}

namespace {

QString trimSpacesAndTabs(QStringView text)
{
    qsizetype start = 0;
    qsizetype end = text.size();
    while (start < end && (text[start] == u' ' || text[start] == u'\t'))
        ++start;
    while (end > start && (text[end - 1] == u' ' || text[end - 1] == u'\t'))
        --end;
    return text.sliced(start, end - start).toString();
}

} // namespace

std::optional<int> ConvertRunner::parseChannelCount(const QString &probeOutput)
{
    const QStringList lines = probeOutput.split(u'\n', Qt::SkipEmptyParts);
    for (const QString &line : lines) {
        if (!line.contains(QStringLiteral("Audio:")))
            continue;
        const QStringList pieces = line.split(u',', Qt::SkipEmptyParts);
        for (const QString &piece : pieces) {
            if (const auto count = channelCount(trimSpacesAndTabs(piece)))
                return count;
        }
    }
    return std::nullopt;
}

std::optional<int> ConvertRunner::channelCount(const QString &descriptor)
{
    static const QHash<QString, int> layouts{
        {QStringLiteral("mono"), 1},      {QStringLiteral("stereo"), 2}, {QStringLiteral("2.1"), 3},
        {QStringLiteral("quad"), 4},      {QStringLiteral("5.0"), 5},    {QStringLiteral("5.1"), 6},
        {QStringLiteral("5.1(side)"), 6}, {QStringLiteral("6.1"), 7},    {QStringLiteral("7.1"), 8},
    };
    const QString lowered = descriptor.toLower();
    if (const auto found = layouts.constFind(lowered); found != layouts.constEnd())
        return found.value();

    qsizetype digits = 0;
    while (digits < lowered.size() && lowered[digits] >= u'0' && lowered[digits] <= u'9')
        ++digits;
    if (digits == 0)
        return std::nullopt;
    const QString rest = trimSpacesAndTabs(QStringView(lowered).sliced(digits));
    if (rest != QStringLiteral("channels") && rest != QStringLiteral("channel"))
        return std::nullopt;
    bool ok = false;
    const int count = QStringView(lowered).first(digits).toInt(&ok);
    if (!ok)
        return std::nullopt;
    return count;
}

QString ConvertRunner::summarise(const QString &text)
{
    constexpr qsizetype limit = 220;
    const QStringList lines = text.split(u'\n', Qt::SkipEmptyParts);
    const auto lastWith = [&](std::initializer_list<QStringView> markers) -> const QString * {
        for (auto line = lines.crbegin(); line != lines.crend(); ++line) {
            for (QStringView marker : markers) {
                if (line->contains(marker))
                    return &*line;
            }
        }
        return nullptr;
    };
    if (const QString *line = lastWith({u"Error", u"error", u"Invalid"}))
        return platform::Graphemes::prefix(*line, limit);
    // ffmpeg words some failures without "error"; its input dump at the top says nothing of them.
    if (const QString *line = lastWith({u"matches no streams", u"Permission denied", u"No such file", u"Conversion failed!",
                                        u"Could not", u"Cannot"}))
        return platform::Graphemes::prefix(*line, limit);
    return platform::Graphemes::prefix(text, limit);
}

void ConvertRunner::cleanupPartial(const QString &basePath)
{
    const QFileInfo base(basePath);
    const QString prefix = base.fileName();
    // An empty prefix would match every entry of the folder.
    if (prefix.isEmpty())
        return;
    QDir folder = base.dir();
    if (!folder.exists())
        return;
    const QFileInfoList entries = folder.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System
                                                       | QDir::NoDotAndDotDot);
    for (const QFileInfo &entry : entries) {
        if (!entry.fileName().startsWith(prefix))
            continue;
        if (entry.isDir() && !entry.isSymLink())
            QDir(entry.filePath()).removeRecursively();
        else
            QFile::remove(entry.filePath());
    }
}

} // namespace vorlik::convert
