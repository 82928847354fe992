#include "convert/LoudnessPlaceholders.h"

#include <algorithm>
#include <cmath>

namespace vorlik::convert {
namespace {

// ffmpeg's filters take plain decimals; the meter's "-inf" (and anything below) becomes -99,
// the floor of their measured_* options.
QString number(double value)
{
    if (std::isnan(value))
        value = -99.0;
    return QString::number(std::clamp(value, -99.0, 99.0), 'f', 2);
}

} // namespace

ConvertRunner::Placeholders LoudnessPlaceholders::of(const Loudness &source, double gain, double limit)
{
    return {{QStringLiteral("measured_i"), number(source.integrated)},
            {QStringLiteral("measured_tp"), number(source.truePeak)},
            {QStringLiteral("measured_lra"), number(source.range)},
            {QStringLiteral("measured_thresh"), number(source.threshold)},
            {QStringLiteral("gain"), number(gain)},
            // A limit is a level under full scale and above the floor of any limiter's curve.
            {QStringLiteral("limit"), number(std::clamp(limit, -80.0, 0.0))}};
}

ConvertRunner::Placeholders LoudnessPlaceholders::sample()
{
    return of(Loudness{-23.0, -1.0, 0.0, -33.0}, 0.0, -1.0);
}

} // namespace vorlik::convert
