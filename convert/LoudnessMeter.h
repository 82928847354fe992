#pragma once
// The loudness of a file's first audio stream as ffmpeg's EBU R128 meter (ebur128 with true peak)
// measures it: integrated loudness, true peak, loudness range and the gate's threshold. The meter
// leaves the LFE channel of a surround stream out of the loudness, as BS.1770 asks.
#include "convert/ConvertRunner.h"

#include <QCoroTask>
#include <QString>

#include <functional>
#include <optional>

namespace vorlik::convert {

struct Loudness {
    double integrated = 0; // LUFS; -70 when no block passed the gate (silence, or under 0.4 s)
    double truePeak = 0;   // dBTP; -inf for digital silence
    double range = 0;      // LU
    double threshold = 0;  // LUFS, the relative gate of the integrated loudness

    // Nothing in the source is loud enough to be measured, so no gain can be derived from it.
    bool isSilent() const { return integrated <= -70.0; }
};

// A measurement, and how the measuring run ended (a run that failed has no measurement).
struct LoudnessReading {
    std::optional<Loudness> loudness;
    ShellOutcome outcome;
};

class LoudnessMeter {
public:
    // The ffmpeg arguments that measure `file`: no output file, the summary on the error stream.
    static QStringList arguments(const QString &file);
    // The meter's closing summary in ffmpeg's error stream; none when it is missing or incomplete.
    static std::optional<Loudness> parseSummary(const QString &ffmpegOutput);
    // Runs the measurement like a conversion: the process goes to onProcess before launch and a
    // cancel of `cancellation` terminates it.
    static QCoro::Task<LoudnessReading> measure(QString ffmpeg, QString file, CancellationToken cancellation,
                                                std::function<void(QProcess &)> onProcess);
};

} // namespace vorlik::convert
