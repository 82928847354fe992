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

} // namespace

LoudnessSearch::LoudnessSearch(service::LoudnessGoal goal, Loudness source) : m_goal(goal), m_source(source) {}

LoudnessSearch::Setting LoudnessSearch::first() const
{
    // A silent source gives no loudness to start from: it is converted as it is.
    return {m_source.isSilent() ? 0.0 : m_goal.target - m_source.integrated, m_goal.ceiling - limitMargin};
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
    const Pass &last = m_passes.last();
    if (onTarget(last) || m_passes.size() >= maxPasses)
        return std::nullopt;
    // Peaks that passed the ceiling: hold them lower by what went over, and keep that limit.
    double limit = last.setting.limit;
    if (!withinCeiling(last))
        limit -= last.result.truePeak - m_goal.ceiling + smallestStep;
    const bool limitMoved = limit < last.setting.limit - smallestStep / 2;
    std::optional<double> gain = m_source.isSilent() ? std::nullopt : nextGain();
    if (!gain && !limitMoved)
        return std::nullopt;
    if (!gain || (!limitMoved && std::abs(*gain - last.setting.gain) < smallestStep))
        gain = last.setting.gain;
    // A setting tried before would only repeat its result.
    for (const Pass &tried : std::as_const(m_passes)) {
        if (std::abs(tried.setting.gain - *gain) < smallestStep && std::abs(tried.setting.limit - limit) < smallestStep)
            return std::nullopt;
    }
    return Setting{*gain, limit};
}

std::optional<double> LoudnessSearch::nextGain() const
{
    const Pass &last = m_passes.last();
    const double target = m_goal.target;
    // The nearest passes on either side of the target by loudness alone (the ceiling is the
    // limit's business): short of it below, too loud above.
    const Pass *below = nullptr;
    const Pass *above = nullptr;
    for (const Pass &pass : m_passes) {
        if (pass.result.integrated < target && (!below || pass.setting.gain > below->setting.gain))
            below = &pass;
        if (pass.result.integrated > target + tolerance && (!above || pass.setting.gain < above->setting.gain))
            above = &pass;
    }
    if (below && above && below->setting.gain < above->setting.gain) {
        // Where the line between them meets the target.
        const double rise = above->result.integrated - below->result.integrated;
        const double run = above->setting.gain - below->setting.gain;
        return rise > 0 ? below->setting.gain + (target - below->result.integrated) * run / rise
                        : below->setting.gain + run / 2;
    }
    if (last.result.integrated > target + tolerance) {
        // Too loud with nothing tried below: less gain never takes off more loudness than it removes.
        return last.setting.gain - (last.result.integrated - target);
    }
    if (last.result.integrated >= target - tolerance)
        return last.setting.gain; // loud enough; only the limit may still have to move

    // Short of the target with nothing tried above. The slope between two passes at the same limit
    // says what more gain buys; with one pass, a limiter that took loudness away says it buys less.
    double slope = 1.0;
    const Pass *previous = nullptr;
    for (const Pass &pass : m_passes) {
        if (&pass != &last && pass.setting.gain < last.setting.gain
            && std::abs(pass.setting.limit - last.setting.limit) < smallestStep
            && (!previous || pass.setting.gain > previous->setting.gain))
            previous = &pass;
    }
    if (previous) {
        slope = (last.result.integrated - previous->result.integrated) / (last.setting.gain - previous->setting.gain);
        if (slope < exhaustedSlope)
            return std::nullopt; // out of reach: the peaks the limiter cuts carry the loudness
    } else if (m_source.integrated + last.setting.gain - last.result.integrated > tolerance) {
        slope = limitedSlope;
    }
    return last.setting.gain + (target - last.result.integrated) / std::min(slope, 1.0);
}

const LoudnessSearch::Pass &LoudnessSearch::best() const
{
    const Pass *chosen = nullptr;
    for (const Pass &pass : m_passes) {
        if (!withinCeiling(pass) || pass.result.integrated > m_goal.target + tolerance)
            continue;
        // The loudest; of two that the meter cannot tell apart, the one with less gain.
        if (!chosen || pass.result.integrated > chosen->result.integrated + smallestStep
            || (std::abs(pass.result.integrated - chosen->result.integrated) <= smallestStep && pass.setting.gain < chosen->setting.gain))
            chosen = &pass;
    }
    if (chosen)
        return *chosen;
    // Nothing kept within the limits: the pass nearest to them.
    const auto overshoot = [this](const Pass &pass) {
        return std::max(0.0, pass.result.truePeak - m_goal.ceiling)
            + std::max(0.0, pass.result.integrated - m_goal.target - tolerance);
    };
    return *std::min_element(m_passes.cbegin(), m_passes.cend(),
                             [&](const Pass &a, const Pass &b) { return overshoot(a) < overshoot(b); });
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
    if (m_source.isSilent())
        return QStringLiteral("The source is silent or too short to measure; its level was left as it is.");
    const Pass &kept = best();
    const QString target = decibels(m_goal.target, 0) + QStringLiteral(" LUFS");
    const QString ceiling = decibels(m_goal.ceiling, 0) + QStringLiteral(" dBTP");
    const QString reached = decibels(kept.result.integrated, 1) + QStringLiteral(" LUFS");
    if (!withinCeiling(kept))
        return QStringLiteral("The output peaks at ") + decibels(kept.result.truePeak, 1)
            + QStringLiteral(" dBTP, above the ") + ceiling + QStringLiteral(" ceiling; it reaches ") + reached
            + u'.';
    if (kept.result.integrated < m_goal.target - tolerance)
        return target + QStringLiteral(" is out of reach under the ") + ceiling + QStringLiteral(" ceiling: the output reaches ")
            + reached + u'.';
    if (kept.result.integrated > m_goal.target + tolerance)
        return QStringLiteral("The output reaches ") + reached + QStringLiteral(", above the ") + target
            + QStringLiteral(" target.");
    return std::nullopt;
}

} // namespace vorlik::convert
