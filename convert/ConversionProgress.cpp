#include "convert/ConversionProgress.h"

#include "convert/ProgressText.h"

#include <algorithm>

namespace vorlik::convert {

using std::chrono::duration_cast;
using std::chrono::milliseconds;

milliseconds ConversionProgress::elapsed(Clock::time_point now) const
{
    return std::max(milliseconds(0), duration_cast<milliseconds>(now - started));
}

std::optional<milliseconds> ConversionProgress::remaining(Clock::time_point now) const
{
    // Below one per cent the pace says little: ffmpeg's first status line comes after its set-up.
    // Past the source's length (a length read a little short) there is no telling what is left.
    if (!fraction || *fraction < 0.01 || *fraction >= 1)
        return std::nullopt;
    const double pass = double(duration_cast<milliseconds>(now - passStarted).count());
    return milliseconds(qint64(std::max(0.0, pass * (1 - *fraction) / *fraction)));
}

QString ConversionProgress::text(Clock::time_point now) const
{
    if (!fraction)
        return ProgressText::elapsed(elapsed(now));
    // A run reads 100% only once it has ended, and then it is no longer shown.
    const QString percent = ProgressText::percent(std::min(*fraction, 0.99));
    const std::optional<milliseconds> left = remaining(now);
    return left ? percent + QStringLiteral(" \u00B7 ") + ProgressText::left(*left) : percent;
}

} // namespace vorlik::convert
