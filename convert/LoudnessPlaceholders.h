#pragma once
// The placeholders a measuring preset's script may use, filled from the source's measurement and
// the gain the runner chose:
//   {measured_i}      integrated loudness, LUFS     {measured_tp}     true peak, dBTP
//   {measured_lra}    loudness range, LU            {measured_thresh} the gate's threshold, LUFS
//   {gain}            the gain to apply, dB         {limit}           where to hold the peaks, dBTP
// The runner starts the limit a little under the preset's ceiling and lowers it when the finished
// output's true peak still passes the ceiling (resampling and encoders add overs of their own).
// Numbers are plain decimals with two places ("-23.40"); a true peak of digital silence is -99.
#include "convert/ConvertRunner.h"
#include "convert/LoudnessMeter.h"

namespace vorlik::convert {

class LoudnessPlaceholders {
public:
    static ConvertRunner::Placeholders of(const Loudness &source, double gain, double limit);
    // Harmless values, for checking a script before anything is measured.
    static ConvertRunner::Placeholders sample();
};

} // namespace vorlik::convert
