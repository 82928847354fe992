#include "TestMedia.h"

#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QStandardPaths>

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

} // namespace vorlik::test
