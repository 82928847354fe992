#pragma once
// The "Overall" figures that ffmpeg's astats filter logs at the end of a decode, as the report's
// levels: peak, RMS, noise floor, flat factor, peak count and sample count.
#include <QByteArray>
#include <QJsonObject>
#include <QString>

namespace vorlik::devserver {

class AstatsLevels {
public:
    // The filter as the decoder runs it: overall figures only, and only those the report uses.
    static QString filter();
    // {"astats_peak_dbfs","rms_dbfs","noise_floor_dbfs","flat_factor","peak_count","sample_count"}
    // from ffmpeg's log; figures that are missing or not finite (silence gives -inf) are left out.
    static QJsonObject fromLog(const QByteArray &log);
};

} // namespace vorlik::devserver
