#include "devserver/LoudnessMeter.h"

#include <QRegularExpression>
#include <QStringList>

#include <ebur128.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numeric>
#include <stdexcept>

namespace vorlik::devserver {

namespace {

constexpr size_t momentaryBlocks = 4;   // 400 ms
constexpr size_t shortTermBlocks = 30;  // 3 s

double energyOf(double lufs) { return std::isfinite(lufs) ? std::pow(10.0, (lufs + 0.691) / 10.0) : 0.0; }
double loudnessOf(double energy) { return energy > 0 ? 10.0 * std::log10(energy) - 0.691 : -HUGE_VAL; }

double meanOfLast(const std::deque<double> &energies, size_t count)
{
    return std::accumulate(energies.end() - qsizetype(count), energies.end(), 0.0) / double(count);
}

void putFinite(QJsonObject &object, const char *key, double value)
{
    if (std::isfinite(value))
        object.insert(QString::fromLatin1(key), value);
}

// The weighting class of one channel name as ffmpeg spells it: the front and centre channels
// count once, surround (side and back) channels by +1.5 dB, low-frequency channels not at all.
int kindOf(const QString &name)
{
    static const QStringList surround{QStringLiteral("BL"), QStringLiteral("BR"), QStringLiteral("BC"),
                                      QStringLiteral("SL"), QStringLiteral("SR"), QStringLiteral("TBL"),
                                      QStringLiteral("TBR"), QStringLiteral("TBC"), QStringLiteral("SDL"),
                                      QStringLiteral("SDR")};
    if (name == QStringLiteral("LFE") || name == QStringLiteral("LFE2"))
        return EBUR128_UNUSED;
    if (surround.contains(name))
        return EBUR128_LEFT_SURROUND;
    if (name == QStringLiteral("FR"))
        return EBUR128_RIGHT;
    if (name == QStringLiteral("FC"))
        return EBUR128_CENTER;
    return EBUR128_LEFT;
}

// ffmpeg's named layouts, channel by channel.
QString namedLayout(const QString &name)
{
    static const QList<std::pair<QString, QString>> layouts{
        {QStringLiteral("mono"), QStringLiteral("FC")},
        {QStringLiteral("stereo"), QStringLiteral("FL+FR")},
        {QStringLiteral("2.1"), QStringLiteral("FL+FR+LFE")},
        {QStringLiteral("3.0"), QStringLiteral("FL+FR+FC")},
        {QStringLiteral("3.0(back)"), QStringLiteral("FL+FR+BC")},
        {QStringLiteral("4.0"), QStringLiteral("FL+FR+FC+BC")},
        {QStringLiteral("quad"), QStringLiteral("FL+FR+BL+BR")},
        {QStringLiteral("quad(side)"), QStringLiteral("FL+FR+SL+SR")},
        {QStringLiteral("3.1"), QStringLiteral("FL+FR+FC+LFE")},
        {QStringLiteral("5.0"), QStringLiteral("FL+FR+FC+BL+BR")},
        {QStringLiteral("5.0(side)"), QStringLiteral("FL+FR+FC+SL+SR")},
        {QStringLiteral("4.1"), QStringLiteral("FL+FR+FC+LFE+BC")},
        {QStringLiteral("5.1"), QStringLiteral("FL+FR+FC+LFE+BL+BR")},
        {QStringLiteral("5.1(side)"), QStringLiteral("FL+FR+FC+LFE+SL+SR")},
        {QStringLiteral("6.0"), QStringLiteral("FL+FR+FC+BC+SL+SR")},
        {QStringLiteral("6.0(front)"), QStringLiteral("FL+FR+FLC+FRC+SL+SR")},
        {QStringLiteral("hexagonal"), QStringLiteral("FL+FR+FC+BL+BR+BC")},
        {QStringLiteral("6.1"), QStringLiteral("FL+FR+FC+LFE+BC+SL+SR")},
        {QStringLiteral("6.1(back)"), QStringLiteral("FL+FR+FC+LFE+BL+BR+BC")},
        {QStringLiteral("6.1(front)"), QStringLiteral("FL+FR+LFE+FLC+FRC+SL+SR")},
        {QStringLiteral("7.0"), QStringLiteral("FL+FR+FC+BL+BR+SL+SR")},
        {QStringLiteral("7.0(front)"), QStringLiteral("FL+FR+FC+FLC+FRC+SL+SR")},
        {QStringLiteral("7.1"), QStringLiteral("FL+FR+FC+LFE+BL+BR+SL+SR")},
        {QStringLiteral("7.1(wide)"), QStringLiteral("FL+FR+FC+LFE+BL+BR+FLC+FRC")},
        {QStringLiteral("7.1(wide-side)"), QStringLiteral("FL+FR+FC+LFE+FLC+FRC+SL+SR")},
        {QStringLiteral("7.1(top)"), QStringLiteral("FL+FR+FC+LFE+BL+BR+TFL+TFR")},
        {QStringLiteral("octagonal"), QStringLiteral("FL+FR+FC+BL+BR+BC+SL+SR")},
        {QStringLiteral("downmix"), QStringLiteral("DL+DR")},
    };
    for (const auto &[layout, channels] : layouts)
        if (layout == name)
            return channels;
    return name; // already "FL+FR+…", or unknown
}

} // namespace

bool LoudnessMeter::namesEveryChannel(const QString &channelLayout, int channels)
{
    const QStringList names = namedLayout(channelLayout.trimmed()).split(QLatin1Char('+'), Qt::SkipEmptyParts);
    static const QRegularExpression channelName(QStringLiteral("^[A-Z][A-Z0-9]*$"));
    return names.size() == channels
        && std::all_of(names.begin(), names.end(), [](const QString &n) { return channelName.match(n).hasMatch(); });
}

std::vector<int> LoudnessMeter::channelKinds(const QString &channelLayout, int channels)
{
    const QStringList names = namedLayout(channelLayout.trimmed()).split(QLatin1Char('+'), Qt::SkipEmptyParts);
    std::vector<int> kinds;
    const bool known = namesEveryChannel(channelLayout, channels);
    for (int c = 0; c < channels; ++c) {
        if (known) {
            kinds.push_back(kindOf(names.at(c)));
            continue;
        }
        static const int defaults[] = {EBUR128_LEFT, EBUR128_RIGHT, EBUR128_CENTER, EBUR128_UNUSED,
                                       EBUR128_LEFT_SURROUND, EBUR128_RIGHT_SURROUND};
        kinds.push_back(c < 6 ? defaults[c] : EBUR128_UNUSED);
    }
    return kinds;
}

QString LoudnessMeter::backendName()
{
    int major = 0, minor = 0, patch = 0;
    ebur128_get_version(&major, &minor, &patch);
    return QStringLiteral("libebur128 %1.%2.%3").arg(major).arg(minor).arg(patch);
}

LoudnessMeter::LoudnessMeter(int channels, int sampleRate, const QString &channelLayout)
    : m_channels(channels), m_blockFrames(size_t(sampleRate) / 10)
{
    if (channels < 1 || channels > 64 || sampleRate < 10 || sampleRate > 2822400)
        throw std::runtime_error("unsupported audio format for loudness measurement");
    m_state = ebur128_init(unsigned(channels), static_cast<unsigned long>(sampleRate),
                           EBUR128_MODE_I | EBUR128_MODE_TRUE_PEAK | EBUR128_MODE_SAMPLE_PEAK);
    if (!m_state)
        throw std::runtime_error("libebur128 could not be set up for this format");
    const std::vector<int> kinds = channelKinds(channelLayout, channels);
    for (int c = 0; c < channels; ++c)
        ebur128_set_channel(m_state, unsigned(c), kinds[size_t(c)]);
}

LoudnessMeter::~LoudnessMeter()
{
    if (m_state)
        ebur128_destroy(&m_state);
}

void LoudnessMeter::addBytes(const char *data, qsizetype size)
{
    const size_t frameBytes = sizeof(float) * size_t(m_channels);
    if (!m_partial.empty()) {
        const size_t take = std::min(frameBytes - m_partial.size(), size_t(size));
        m_partial.insert(m_partial.end(), data, data + take);
        data += take;
        size -= qsizetype(take);
        if (m_partial.size() < frameBytes)
            return;
        m_aligned.resize(size_t(m_channels));
        std::memcpy(m_aligned.data(), m_partial.data(), frameBytes);
        m_partial.clear();
        addFrames(m_aligned.data(), 1);
    }
    const size_t whole = size_t(size) / frameBytes;
    if (whole > 0) {
        // The pipe's bytes have no float alignment guarantee: copy before handing them on.
        m_aligned.resize(whole * size_t(m_channels));
        std::memcpy(m_aligned.data(), data, whole * frameBytes);
        addFrames(m_aligned.data(), whole);
    }
    const size_t rest = size_t(size) - whole * frameBytes;
    m_partial.assign(data + whole * frameBytes, data + whole * frameBytes + rest);
}

void LoudnessMeter::addFrames(const float *frames, size_t count)
{
    // Fed in 100 ms blocks exactly, so each block's energy can be read back on its own.
    while (count > 0) {
        const size_t take = std::min(count, m_blockFrames - m_framesInBlock);
        ebur128_add_frames_float(m_state, frames, take);
        frames += take * size_t(m_channels);
        count -= take;
        m_framesInBlock += take;
        m_frames += qint64(take);
        if (m_framesInBlock == m_blockFrames)
            closeBlock();
    }
}

void LoudnessMeter::closeBlock()
{
    m_framesInBlock = 0;
    double blockLoudness = -HUGE_VAL;
    ebur128_loudness_window(m_state, 100, &blockLoudness);
    m_recentEnergies.push_back(energyOf(blockLoudness));
    if (m_recentEnergies.size() > shortTermBlocks)
        m_recentEnergies.pop_front();
    if (m_recentEnergies.size() >= momentaryBlocks) {
        const double momentary = loudnessOf(meanOfLast(m_recentEnergies, momentaryBlocks));
        if (std::isfinite(momentary))
            m_maxMomentary = std::max(m_maxMomentary.value_or(momentary), momentary);
    }
    if (m_recentEnergies.size() == shortTermBlocks) {
        const double energy = meanOfLast(m_recentEnergies, shortTermBlocks);
        m_shortTermEnergies.push_back(energy);
        const double shortTerm = loudnessOf(energy);
        if (std::isfinite(shortTerm))
            m_maxShortTerm = std::max(m_maxShortTerm.value_or(shortTerm), shortTerm);
    }
}

QJsonObject LoudnessMeter::loudness() const
{
    QJsonObject out;
    double integrated = -HUGE_VAL;
    if (ebur128_loudness_global(m_state, &integrated) == EBUR128_SUCCESS)
        putFinite(out, "integrated_lufs", integrated);
    double threshold = -HUGE_VAL;
    if (std::isfinite(integrated) && ebur128_relative_threshold(m_state, &threshold) == EBUR128_SUCCESS)
        putFinite(out, "threshold_lufs", threshold);

    // Loudness range (EBU Tech 3342): short-term values above -70 LUFS, then above 20 LU under
    // their energy mean; the range spans their 10th to 95th percentile.
    std::vector<double> gated;
    for (double energy : m_shortTermEnergies)
        if (loudnessOf(energy) > -70.0)
            gated.push_back(energy);
    if (!gated.empty()) {
        const double mean = std::accumulate(gated.begin(), gated.end(), 0.0) / double(gated.size());
        const double relativeGate = loudnessOf(mean) - 20.0;
        std::vector<double> kept;
        for (double energy : gated)
            if (loudnessOf(energy) > relativeGate)
                kept.push_back(energy);
        std::sort(kept.begin(), kept.end());
        if (!kept.empty()) {
            const double last = double(kept.size() - 1);
            const double low = loudnessOf(kept[size_t(last * 0.10 + 0.5)]);
            const double high = loudnessOf(kept[size_t(last * 0.95 + 0.5)]);
            out.insert(QStringLiteral("lra_lu"), high - low);
            out.insert(QStringLiteral("lra_low_lufs"), low);
            out.insert(QStringLiteral("lra_high_lufs"), high);
        }
    }

    double truePeak = 0;
    for (int c = 0; c < m_channels; ++c) {
        double peak = 0;
        if (ebur128_true_peak(m_state, unsigned(c), &peak) == EBUR128_SUCCESS)
            truePeak = std::max(truePeak, peak);
    }
    if (truePeak > 0)
        putFinite(out, "true_peak_dbfs", 20.0 * std::log10(truePeak));
    if (m_maxShortTerm)
        out.insert(QStringLiteral("max_short_term_lufs"), *m_maxShortTerm);
    if (m_maxMomentary)
        out.insert(QStringLiteral("max_momentary_lufs"), *m_maxMomentary);
    return out;
}

std::optional<double> LoudnessMeter::samplePeakDbfs() const
{
    double highest = 0;
    for (int c = 0; c < m_channels; ++c) {
        double peak = 0;
        if (ebur128_sample_peak(m_state, unsigned(c), &peak) == EBUR128_SUCCESS)
            highest = std::max(highest, peak);
    }
    if (!(highest > 0))
        return std::nullopt;
    return 20.0 * std::log10(highest);
}

} // namespace vorlik::devserver
