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

using namespace Qt::StringLiterals;

QString TestMedia::ffmpeg()
{
    const QString found = QStandardPaths::findExecutable(u"ffmpeg"_s);
    return found.isEmpty() ? u"/usr/bin/ffmpeg"_s : found;
}

QString TestMedia::make(const QString &output, const QStringList &arguments)
{
    QProcess process;
    const QStringList all = QStringList{u"-y"_s, u"-hide_banner"_s, u"-loglevel"_s, u"error"_s} + arguments + QStringList{output};
    process.start(ffmpeg(), all);
    const bool finished = process.waitForFinished(60000);
    EXPECT_TRUE(finished && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0)
        << "ffmpeg " << all.join(u' ').toStdString() << ": " << process.readAllStandardError().toStdString();
    return output;
}

QString TestMedia::sine(const QString &output, double seconds)
{
    return make(output, {u"-f"_s, u"lavfi"_s, u"-i"_s, u"sine=frequency=440:sample_rate=48000:duration=%1"_s.arg(seconds)});
}

QString TestMedia::silence(const QString &output, const QString &channelLayout, double seconds)
{
    return make(output, {u"-f"_s, u"lavfi"_s, u"-i"_s, u"anullsrc=channel_layout=%1:sample_rate=48000"_s.arg(channelLayout), u"-t"_s,
                         QString::number(seconds)});
}

QString TestMedia::script(const QString &path, const QByteArray &body)
{
    writeFile(path, "#!/bin/sh\n" + body);
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return path;
}

QList<QJsonObject> TestMedia::streams(const QString &file)
{
    QProcess process;
    process.start(u"ffprobe"_s, {u"-v"_s, u"error"_s, u"-show_streams"_s, u"-of"_s, u"json"_s, file});
    process.waitForFinished(60000);
    QList<QJsonObject> result;
    for (const QJsonValue &stream : QJsonDocument::fromJson(process.readAllStandardOutput()).object().value(u"streams"_s).toArray())
        result.append(stream.toObject());
    return result;
}

TestMedia::Loudness TestMedia::loudness(const QString &file)
{
    QProcess process;
    process.start(ffmpeg(), {u"-hide_banner"_s, u"-nostats"_s, u"-i"_s, file, u"-map"_s, u"0:a:0"_s, u"-af"_s, u"ebur128=peak=true"_s,
                             u"-f"_s, u"null"_s, u"-"_s});
    process.waitForFinished(120000);
    const QString text = QString::fromUtf8(process.readAllStandardError());
    // The summary comes last: its "I:", "Peak:" and "LRA:" lines are the last of their kind.
    const auto last = [&text](const QString &pattern) {
        double value = std::nan("");
        QRegularExpressionMatchIterator matches = QRegularExpression(pattern).globalMatch(text);
        while (matches.hasNext())
            value = matches.next().captured(1).toDouble();
        return value;
    };
    return {last(uR"(\bI:\s+(-?[0-9.]+|-inf) LUFS)"_s), last(uR"(\bPeak:\s+(-?[0-9.]+|-inf) dBFS)"_s),
            last(uR"(\bLRA:\s+(-?[0-9.]+) LU)"_s)};
}

} // namespace vorlik::test
