#pragma once
// Real media for tests, made on the spot by Debian's ffmpeg from its built-in sources (lavfi):
// nothing binary is kept in the tree.
#include "tests/support/QtPrinters.h"

#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

namespace vorlik::test {

struct TestMedia {
    // The ffmpeg the tests run.
    static QString ffmpeg();
    // Runs ffmpeg -y -hide_banner -loglevel error + arguments + output; fails the test if it fails.
    static QString make(const QString &output, const QStringList &arguments);
    static QString sine(const QString &output, double seconds = 0.3);
    static QString silence(const QString &output, const QString &channelLayout, double seconds = 0.3);
    // Writes an executable shell script.
    static QString script(const QString &path, const QByteArray &body);

    // What ffprobe says of each stream of a file ("codec_type", "codec_name", "channels",
    // "sample_rate", ...); empty when it cannot read the file.
    static QList<QJsonObject> streams(const QString &file);
    // The file's integrated loudness (LUFS), true peak (dBTP) and loudness range (LU), as ffmpeg's
    // ebur128 filter measures them; NaN when the measurement fails.
    struct Loudness {
        double integrated, truePeak, range;
    };
    static Loudness loudness(const QString &file);
};

} // namespace vorlik::test
