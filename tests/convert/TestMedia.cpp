#include "TestMedia.h"

#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>

#include <cmath>

namespace vorlik::test {

QString TestMedia::ffmpeg()
{
    const QString found = QStandardPaths::findExecutable(QStringLiteral("ffmpeg"));
    return found.isEmpty() ? QStringLiteral("/usr/bin/ffmpeg") : found;
}

QString TestMedia::make(const QString &output, const QStringList &arguments)
{
    QProcess process;
    QStringList all{QStringLiteral("-y"), QStringLiteral("-hide_banner"), QStringLiteral("-loglevel"),
                    QStringLiteral("error")};
    all << arguments << output;
    process.start(ffmpeg(), all);
    const bool finished = process.waitForFinished(60000);
    EXPECT_TRUE(finished && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0)
        << "ffmpeg " << all.join(u' ').toStdString() << ": " << process.readAllStandardError().toStdString();
    return output;
}

QString TestMedia::sine(const QString &output, double seconds)
{
    return make(output, {QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
                         QStringLiteral("sine=frequency=440:sample_rate=48000:duration=%1").arg(seconds)});
}

QString TestMedia::silence(const QString &output, const QString &channelLayout, double seconds)
{
    return make(output, {QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
                         QStringLiteral("anullsrc=channel_layout=%1:sample_rate=48000").arg(channelLayout),
                         QStringLiteral("-t"), QString::number(seconds)});
}

QString TestMedia::script(const QString &path, const QByteArray &body)
{
    writeFile(path, "#!/bin/sh\n" + body);
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup
                                    | QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther);
    return path;
}

QList<QJsonObject> TestMedia::streams(const QString &file)
{
    QProcess process;
    process.start(QStringLiteral("ffprobe"), {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-show_streams"),
                                              QStringLiteral("-of"), QStringLiteral("json"), file});
    process.waitForFinished(60000);
    QList<QJsonObject> result;
    const QJsonArray list = QJsonDocument::fromJson(process.readAllStandardOutput()).object().value(QStringLiteral("streams")).toArray();
    for (const QJsonValue &stream : list)
        result.append(stream.toObject());
    return result;
}

TestMedia::Loudness TestMedia::loudness(const QString &file)
{
    QProcess process;
    process.start(ffmpeg(), {QStringLiteral("-hide_banner"), QStringLiteral("-nostats"), QStringLiteral("-i"), file,
                             QStringLiteral("-map"), QStringLiteral("0:a:0"), QStringLiteral("-af"),
                             QStringLiteral("ebur128=peak=true"), QStringLiteral("-f"), QStringLiteral("null"),
                             QStringLiteral("-")});
    process.waitForFinished(120000);
    const QString text = QString::fromUtf8(process.readAllStandardError());
    // The summary comes last: its "I:" and "Peak:" lines are the last of their kind.
    const auto last = [&text](const QString &pattern) {
        double value = std::nan("");
        QRegularExpressionMatchIterator matches = QRegularExpression(pattern).globalMatch(text);
        while (matches.hasNext())
            value = matches.next().captured(1).toDouble();
        return value;
    };
    return {last(QStringLiteral(R"(\bI:\s+(-?[0-9.]+|-inf) LUFS)")), last(QStringLiteral(R"(\bPeak:\s+(-?[0-9.]+|-inf) dBFS)"))};
}

} // namespace vorlik::test
