#pragma once
// How far one item's conversion has got, as the queue shows it: since when the item is worked
// on, since when its current ffmpeg run goes (a measuring preset runs ffmpeg more than once),
// and that run's fraction, when the source's length is known.
#include <QString>

#include <chrono>
#include <optional>

namespace vorlik::convert {

struct ConversionProgress {
    using Clock = std::chrono::steady_clock;

    Clock::time_point started;
    Clock::time_point passStarted;
    std::optional<double> fraction; // 0..1; none while the length is unknown

    std::chrono::milliseconds elapsed(Clock::time_point now) const;
    // From the current run's pace; none before it has got anywhere.
    std::optional<std::chrono::milliseconds> remaining(Clock::time_point now) const;
    // "42% · 0:12 left", "42%" until a pace is known, or "0:07 elapsed" without a length.
    QString text(Clock::time_point now) const;
};

} // namespace vorlik::convert
