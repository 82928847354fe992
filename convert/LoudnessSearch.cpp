#include "convert/LoudnessSearch.h"

#include <algorithm>
#include <cmath>

namespace vorlik::convert {
namespace {

// Below this many dB of loudness per dB of gain, more gain only buys distortion.
constexpr double exhaustedSlope = 0.25;
// What a first correction assumes a limited result gains per dB (measured on percussive masters
// and kick tracks: 0.55 to 0.75).
constexpr double limitedSlope = 0.7;
// Steps smaller than this change nothing the meter can show.
constexpr double smallestStep = 0.05;
// How far under the ceiling a limited result's true peak should stay, and how much a limiter's
// overs grow for each further dB of gain (noise bursts driven 15 to 30 dB into it: about 0.1).
constexpr double overSpare = 0.1;
constexpr double oversPerDecibel = 0.1;
// How much less the next dB of drive buys than the last did, on a limited result (the curve of
// loudness over drive flattens as the limiter works harder; measured on kick tracks and masters).
constexpr double flattening = 0.75;
// A result whose true peak comes this close to its limit was held by the limiter.
constexpr double engagedBelow = 0.2;

} // namespace

LoudnessSearch::LoudnessSearch(service::LoudnessGoal goal, Loudness source) : m_goal(goal), m_source(source) {}

LoudnessSearch::Setting LoudnessSearch::first() const
{
    // A source too short or quiet for the meter gives no loudness to start from; its true peak
    // still says how far it may go.
    if (m_source.isSilent())
        return safe();
    return {m_goal.target - m_source.integrated, m_goal.ceiling - limitMargin};
}

LoudnessSearch::Setting LoudnessSearch::safe() const
{
    // Plain gain: the source's peaks under the ceiling and its loudness at most the target (never
    // up for a source the meter cannot measure). After a safe pass that still went over (an
    // encoder's overs) or above the target, lower it by as much again.
    const double peakRoom = std::isfinite(m_source.truePeak) ? m_goal.ceiling - safeMargin - m_source.truePeak : 0.0;
    double gain = std::min(m_source.isSilent() ? 0.0 : m_goal.target - m_source.integrated, peakRoom);
    if (m_source.isSilent())
        gain = std::min(gain, 0.0);
    for (const Pass &pass : m_passes) {
        if (!pass.setting.safe)
            continue;
        const double over = std::max(pass.result.truePeak - m_goal.ceiling + safeMargin,
                                     m_source.isSilent() ? 0.0 : pass.result.integrated - m_goal.target + tolerance / 2);
        gain = std::min(gain, pass.setting.gain - std::max(over, smallestStep));
    }
    return {gain, m_goal.ceiling - limitMargin, true};
}

bool LoudnessSearch::acceptable(const Pass &pass) const
{
    return withinCeiling(pass) && (m_source.isSilent() || pass.result.integrated <= m_goal.target + tolerance);
}

bool LoudnessSearch::ignoredGain(const Pass &pass) const
{
    // Gain moves the loudness, and the peaks too unless the limiter holds them; a result that
    // moved neither by a quarter of the gain never got it. (Peaks that stay near the limit were
    // held there; clicks lose their loudness with them.)
    if (m_source.isSilent() || !std::isfinite(m_source.truePeak) || std::abs(pass.setting.gain) < 1.0)
        return false;
    const double still = std::abs(pass.setting.gain) / 4;
    return std::abs(m_source.truePeak - pass.setting.limit) > still
        && std::abs(pass.result.integrated - m_source.integrated) < still
        && std::abs(pass.result.truePeak - m_source.truePeak) < still;
}

bool LoudnessSearch::withinCeiling(const Pass &pass) const
{
    return pass.result.truePeak <= m_goal.ceiling;
}

bool LoudnessSearch::onTarget(const Pass &pass) const
{
    return withinCeiling(pass) && std::abs(pass.result.integrated - m_goal.target) <= tolerance;
}

std::optional<LoudnessSearch::Setting> LoudnessSearch::next(Pass pass)
{
    m_passes.append(std::move(pass));
    if (m_passes.size() == 1 && ignoredGain(m_passes.first())) {
        // No other gain would change anything either.
        m_gainIgnored = true;
        return std::nullopt;
    }
    if (!m_searchOver && !m_source.isSilent()) {
        if (std::optional<Setting> planned = searchNext())
            return planned;
    }
    // The search is over. Keep what it found if anything is under the ceiling and not above the
    // target.
    m_searchOver = true;
    if (std::any_of(m_passes.cbegin(), m_passes.cend(), [this](const Pass &p) { return acceptable(p); })
        || m_extraPasses >= maxExtraPasses)
        return std::nullopt;
    ++m_extraPasses;
    // Under the ceiling but too loud: less gain at the same limit takes off what it removes where
    // the limiter is idle, so the one the limiter worked least on usually lands on the target.
    const Pass *loud = nullptr;
    for (const Pass &pass : m_passes) {
        if (withinCeiling(pass)
            && (!loud || pass.setting.gain - pass.setting.limit < loud->setting.gain - loud->setting.limit))
            loud = &pass;
    }
    if (loud && m_lowered < maxLowered) {
        ++m_lowered;
        // Another result at the same limit says what a dB of gain moves there.
        double slope = 1.0;
        for (const Pass &pass : m_passes) {
            if (&pass != loud && std::abs(pass.setting.limit - loud->setting.limit) < smallestStep
                && std::abs(pass.setting.gain - loud->setting.gain) > smallestStep)
                slope = std::clamp((pass.result.integrated - loud->result.integrated) / (pass.setting.gain - loud->setting.gain),
                                   exhaustedSlope, 1.0);
        }
        const double excess = loud->result.integrated - m_goal.target + tolerance / 2;
        return Setting{loud->setting.gain - excess / slope, loud->setting.limit};
    }
    return safe();
}

std::optional<LoudnessSearch::Setting> LoudnessSearch::searchNext()
{
    const Pass &last = m_passes.last();
    if (onTarget(last) || m_passes.size() >= maxPasses || m_exhausted)
        return std::nullopt;

    // Where the limiter held the peaks, the output's peaks stand above its limit by the overs that
    // the way back to the output rate and the encoder add, and those grow as more gain drives the
    // limiter harder. The next limit leaves room for them under the ceiling: lower after overs,
    // and up to just under the ceiling where there were none (clicks are held exactly, and every
    // tenth of a decibel of them is loudness).
    double limit = last.setting.limit;
    if (last.result.truePeak >= last.setting.limit - engagedBelow) {
        const std::optional<double> planned = nextGain(limit);
        const double overs = std::max(0.0, last.result.truePeak - last.setting.limit);
        const double drive = planned ? std::max(0.0, *planned - last.setting.gain) : 0.0;
        limit = m_goal.ceiling - overSpare - overs - (overs > smallestStep ? oversPerDecibel * drive : 0.0);
        limit = std::max(limit, m_goal.ceiling - lowestLimit);
    }
    std::optional<double> gain = nextGain(limit);
    if (!gain) {
        // Out of reach: more gain buys next to nothing. What is left is the room under the
        // ceiling: at the same drive a higher limit lifts the output by as much, and peaks still
        // over the ceiling (with nothing under it yet) want a lower one. One more pass at most.
        m_exhausted = true;
        const bool anyWithin = std::any_of(m_passes.cbegin(), m_passes.cend(), [this](const Pass &p) { return withinCeiling(p); });
        const bool rises = limit > last.setting.limit + smallestStep && last.result.integrated < m_goal.target - tolerance;
        if (!rises && (anyWithin || limit > last.setting.limit - smallestStep))
            return std::nullopt;
        gain = last.setting.gain + (limit - last.setting.limit);
    }
    // A setting tried before would only repeat its result.
    for (const Pass &tried : std::as_const(m_passes)) {
        if (std::abs(tried.setting.gain - *gain) < smallestStep && std::abs(tried.setting.limit - limit) < smallestStep)
            return std::nullopt;
    }
    return Setting{*gain, limit};
}

std::optional<double> LoudnessSearch::nextGain(double limit) const
{
    // A limiter scales with its limit: lowering limit and gain together lowers the output by as
    // much and changes nothing else. So each pass is a point of one curve, the output's loudness
    // over its limit (lift) against the gain over the limit (drive), whatever limit it ran at,
    // and the next pass needs the drive at which the lift reaches the target over the new limit.
    const auto drive = [](const Pass &pass) { return pass.setting.gain - pass.setting.limit; };
    const auto lift = [](const Pass &pass) { return pass.result.integrated - pass.setting.limit; };
    const double wanted = m_goal.target - limit;

    const Pass *below = nullptr; // the strongest drive that fell short
    const Pass *above = nullptr; // the weakest drive that went too far
    for (const Pass &pass : m_passes) {
        if (lift(pass) < wanted && (!below || drive(pass) > drive(*below)))
            below = &pass;
        if (lift(pass) > wanted + tolerance && (!above || drive(pass) < drive(*above)))
            above = &pass;
    }
    if (below && above && drive(*below) < drive(*above)) {
        // Where the line between them meets the target.
        const double rise = lift(*above) - lift(*below);
        const double run = drive(*above) - drive(*below);
        const double at = rise > 0 ? drive(*below) + (wanted - lift(*below)) * run / rise : drive(*below) + run / 2;
        return at + limit;
    }
    const Pass &last = m_passes.last();
    if (!below) {
        // Too loud everywhere: less drive never takes off more loudness than it removes.
        return drive(last) - (lift(last) - wanted) + limit;
    }

    // Short of the target. The slope between the two strongest drives says what more drive buys;
    // with one pass, the line from where the source's peaks first meet the limit (drive -TP,
    // lift I - TP: below that the chain is plain gain) says it. Either way more drive buys less
    // the harder the limiter works, so the next step reaches a little further than the line.
    const Pass *weaker = nullptr;
    for (const Pass &pass : m_passes) {
        if (drive(pass) < drive(*below) - smallestStep && (!weaker || drive(pass) > drive(*weaker)))
            weaker = &pass;
    }
    const bool engaged = below->result.truePeak >= below->setting.limit - engagedBelow;
    double slope = 1.0;
    if (weaker) {
        slope = (lift(*below) - lift(*weaker)) / (drive(*below) - drive(*weaker));
    } else if (engaged && m_source.integrated + below->setting.gain - below->result.integrated > tolerance) {
        // The limiter held peaks and loudness went with them. (Loudness lost without the limiter
        // at work, to the resampling's band limit on bright material, stays the same at any gain.)
        const double knee = -m_source.truePeak;
        const double kneeLift = m_source.integrated - m_source.truePeak;
        slope = drive(*below) - knee > 1.0 ? (lift(*below) - kneeLift) / (drive(*below) - knee) : limitedSlope;
    }
    if (slope < exhaustedSlope)
        return std::nullopt; // out of reach: the peaks the limiter cuts carry the loudness
    if (engaged && slope < 1.0)
        slope *= flattening;
    return drive(*below) + (wanted - lift(*below)) / std::min(slope, 1.0) + limit;
}

const LoudnessSearch::Pass &LoudnessSearch::best() const
{
    const Pass *chosen = nullptr;
    for (const Pass &pass : m_passes) {
        if (!acceptable(pass))
            continue;
        // The loudest; of two that the meter cannot tell apart, the one with less gain.
        if (!chosen || pass.result.integrated > chosen->result.integrated + smallestStep
            || (std::abs(pass.result.integrated - chosen->result.integrated) <= smallestStep && pass.setting.gain < chosen->setting.gain))
            chosen = &pass;
    }
    if (chosen)
        return *chosen;
    // Under the ceiling but all too loud: the quietest of them.
    for (const Pass &pass : m_passes) {
        if (withinCeiling(pass) && (!chosen || pass.result.integrated < chosen->result.integrated))
            chosen = &pass;
    }
    if (chosen)
        return *chosen;
    // Nothing under the ceiling (and so nothing to deliver): the pass nearest to it.
    return *std::min_element(m_passes.cbegin(), m_passes.cend(),
                             [](const Pass &a, const Pass &b) { return a.result.truePeak < b.result.truePeak; });
}

bool LoudnessSearch::holdsCeiling() const
{
    return !m_passes.isEmpty() && withinCeiling(best());
}

QString LoudnessSearch::decibels(double value, int decimals)
{
    QString text = decimals > 0 ? QString::number(value, 'f', decimals) : QString::number(value, 'g', 6);
    if (text.startsWith(u'-'))
        text.replace(0, 1, QChar(0x2212));
    return text;
}

std::optional<QString> LoudnessSearch::shortfall() const
{
    if (m_passes.isEmpty())
        return std::nullopt;
    const Pass &kept = best();
    const QString target = decibels(m_goal.target, 0) + QStringLiteral(" LUFS");
    const QString ceiling = decibels(m_goal.ceiling, 0) + QStringLiteral(" dBTP");
    const QString reached = decibels(kept.result.integrated, 1) + QStringLiteral(" LUFS");
    if (!withinCeiling(kept))
        return QStringLiteral("The output peaks at ") + decibels(kept.result.truePeak, 1)
            + QStringLiteral(" dBTP, above the ") + ceiling + QStringLiteral(" ceiling")
            + (m_gainIgnored ? QStringLiteral(", and the preset did not apply the gain") : QString()) + u'.';
    if (m_gainIgnored)
        return QStringLiteral("The preset did not apply the gain: the output stays at ") + reached + u'.';
    if (m_source.isSilent()) {
        if (kept.setting.gain < -smallestStep)
            return QStringLiteral("The source is too short or too quiet to measure its loudness; it was lowered by ")
                + decibels(-kept.setting.gain, 1) + QStringLiteral(" dB to keep its peaks under the ") + ceiling
                + QStringLiteral(" ceiling.");
        return QStringLiteral("The source is silent or too short to measure; its level was left as it is.");
    }
    // A safe pass kept: the limited passes could not hold the ceiling on this material.
    if (kept.result.integrated < m_goal.target - tolerance && (m_exhausted || kept.setting.safe))
        return target + QStringLiteral(" is out of reach under the ") + ceiling + QStringLiteral(" ceiling: the output reaches ")
            + reached + u'.';
    if (kept.result.integrated < m_goal.target - tolerance)
        return QStringLiteral("The output reaches ") + reached + QStringLiteral(", ")
            + decibels(m_goal.target - kept.result.integrated, 1).remove(QChar(0x2212)) + QStringLiteral(" LU short of the ")
            + target + QStringLiteral(" target.");
    if (kept.result.integrated > m_goal.target + tolerance)
        return QStringLiteral("The output reaches ") + reached + QStringLiteral(", above the ") + target
            + QStringLiteral(" target.");
    return std::nullopt;
}

} // namespace vorlik::convert
