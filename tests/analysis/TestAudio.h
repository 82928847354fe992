#pragma once
// Small real audio files for the analysis tests, written by hand (no tool needed), and noise.
#include <QByteArray>

namespace vorlik::test {

// 16-bit stereo 44.1 kHz PCM WAV: a 997 Hz sine at -6 dBFS for `seconds`.
QByteArray sineWAV(double seconds);

// `size` bytes of noise, the same for the same size.
QByteArray randomBytes(qsizetype size);

} // namespace vorlik::test
