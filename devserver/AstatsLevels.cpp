#include "devserver/AstatsLevels.h"

#include <QList>

#include <cmath>

namespace vorlik::devserver {

QString AstatsLevels::filter()
{
    return QStringLiteral("astats=measure_perchannel=none:measure_overall="
                          "Peak_level+RMS_level+Flat_factor+Peak_count+Noise_floor+Number_of_samples");
}

QJsonObject AstatsLevels::fromLog(const QByteArray &log)
{
    struct Figure {
        const char *label;
        const char *key;
        bool count;
    };
    static const Figure figures[] = {
        {"Peak level dB:", "astats_peak_dbfs", false}, {"RMS level dB:", "rms_dbfs", false},
        {"Noise floor dB:", "noise_floor_dbfs", false}, {"Flat factor:", "flat_factor", false},
        {"Peak count:", "peak_count", true},           {"Number of samples:", "sample_count", true},
    };
    QJsonObject levels;
    bool overall = false;
    for (const QByteArray &rawLine : log.split('\n')) {
        // "[Parsed_astats_0 @ 0x…] Peak level dB: -23.000000"
        const qsizetype close = rawLine.indexOf("] ");
        if (!rawLine.startsWith("[Parsed_astats_") || close < 0)
            continue;
        const QByteArray line = rawLine.mid(close + 2).trimmed();
        if (line == "Overall") {
            overall = true;
            continue;
        }
        if (!overall)
            continue;
        for (const Figure &figure : figures) {
            if (!line.startsWith(figure.label))
                continue;
            bool ok = false;
            const double value = line.mid(qstrlen(figure.label)).trimmed().toDouble(&ok);
            if (!ok || !std::isfinite(value))
                break;
            if (figure.count)
                levels.insert(QString::fromLatin1(figure.key), qint64(std::llround(value)));
            else
                levels.insert(QString::fromLatin1(figure.key), value);
            break;
        }
    }
    return levels;
}

} // namespace vorlik::devserver
