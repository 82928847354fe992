#pragma once
// EBU R128 / ITU-R BS.1770 loudness of decoded audio, measured with libebur128: integrated
// loudness and its relative gate, loudness range (EBU Tech 3342) with its low and high ends,
// true peak, sample peak, and the largest short-term and momentary loudness. Audio is fed in
// pieces of any size as interleaved 32-bit floats; nothing but the meter's own state is kept.
#include <ebur128.h>

#include <QJsonObject>
#include <QString>

#include <deque>
#include <optional>
#include <vector>

namespace vorlik::devserver {

class LoudnessMeter {
public:
    // Throws std::runtime_error when libebur128 refuses the format. `channelLayout` is ffprobe's
    // layout name ("stereo", "5.1(side)", "FL+FR+LFE"): it decides how each channel is weighted.
    LoudnessMeter(int channels, int sampleRate, const QString &channelLayout);
    ~LoudnessMeter();
    LoudnessMeter(const LoudnessMeter &) = delete;
    LoudnessMeter &operator=(const LoudnessMeter &) = delete;

    // Raw little-endian f32 bytes straight from the decoder; a frame split across two calls is
    // put together again.
    void addBytes(const char *data, qsizetype size);
    qint64 frames() const { return m_frames; }

    // {"integrated_lufs","threshold_lufs","lra_lu","lra_low_lufs","lra_high_lufs",
    //  "true_peak_dbfs","max_short_term_lufs","max_momentary_lufs"}; a value that does not exist
    // (silence, audio shorter than the measurement window) is left out.
    QJsonObject loudness() const;
    // The highest sample of any channel in dBFS; none for digital silence.
    std::optional<double> samplePeakDbfs() const;

    // "libebur128 1.2.6"
    static QString backendName();
    // libebur128's channel kind for each channel of a layout; unknown layouts get the library's
    // default order (L, R, C, LFE, Ls, Rs).
    static std::vector<int> channelKinds(const QString &channelLayout, int channels);
    // The layout names each of the channels (ffmpeg's named layouts, or "FL+FR+…").
    static bool namesEveryChannel(const QString &channelLayout, int channels);

private:
    void addFrames(const float *frames, size_t count);
    void closeBlock();

    ebur128_state *m_state = nullptr;
    int m_channels;
    size_t m_blockFrames;          // 100 ms
    size_t m_framesInBlock = 0;
    qint64 m_frames = 0;
    std::vector<char> m_partial;   // bytes of a frame not yet complete
    std::vector<float> m_aligned;

    // Energies of the last 30 blocks of 100 ms: momentary loudness covers the last 4, short-term
    // the last 30, so both follow from the blocks without measuring the same audio again.
    std::deque<double> m_recentEnergies;
    std::vector<double> m_shortTermEnergies; // every 100 ms once 3 s are in, for the range
    std::optional<double> m_maxMomentary;
    std::optional<double> m_maxShortTerm;
};

} // namespace vorlik::devserver
