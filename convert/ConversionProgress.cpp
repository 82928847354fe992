#include "convert/ConversionProgress.h"

#include "convert/ProgressText.h"

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
    if (!fraction || *fraction < 0.01)
        return std::nullopt;
    const double pass = double(duration_cast<milliseconds>(now - passStarted).count());
    return milliseconds(qint64(std::max(0.0, pass * (1 - *fraction) / *fraction)));
}

QString ConversionProgress::text(Clock::time_point now) const
{
    if (!fraction)
        return ProgressText::elapsed(elapsed(now));
    const QString percent = ProgressText::percent(*fraction);
    const std::optional<milliseconds> left = remaining(now);
    return left ? percent + QStringLiteral(" \u00B7 ") + ProgressText::left(*left) : percent;
}

} // namespace vorlik::convert
