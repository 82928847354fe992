#pragma once
// The gain and limit that bring a source to its loudness goal through the preset's own script.
// The first pass applies the plain difference between the goal and the source's loudness, with the
// limit a little under the ceiling. Where the limiter has to hold peaks back, the result comes out
// quieter, and the next pass adds the gain the passes so far say is missing; where the finished
// output's true peak still passes the ceiling (overs from resampling or an encoder), it lowers the
// limit by what went over. A few passes at most. Material whose loudness lives in the peaks the
// limiter cuts gains next to nothing from more gain: the search stops there, keeps the loudest
// result under the ceiling, and says so.
// An output over the ceiling is never kept while one under it exists. When the passes leave none
// under the ceiling and at or below the target, the loudest under the ceiling is tried with less
// gain, and failing that a safe pass follows: plain gain that keeps the
// source's true peak under the ceiling and its loudness at most on the target, with nothing for
// the limiter to do. A source too short or quiet for the meter gets only that pass.
#include "convert/LoudnessMeter.h"
#include "service/LoudnessGoal.h"

#include <QList>
#include <QString>

#include <optional>

namespace vorlik::convert {

class LoudnessSearch {
public:
    // How close to the target a result must come (LU), and how many conversions it may take.
    static constexpr double tolerance = 0.2;
    static constexpr int maxPasses = 3;
    // How far under the ceiling the first pass holds the peaks (dB).
    static constexpr double limitMargin = 0.3;
    // The limit never goes further under the ceiling than this (dB): overs beyond it are not
    // the limiter's to fix, and the safe pass takes over.
    static constexpr double lowestLimit = 10;
    // How far under the ceiling a safe pass puts the source's true peak (dB), and how many passes
    // may follow the search when it kept nothing under the ceiling and the target: its least
    // limited result under the ceiling with less gain (twice at most), else safe passes (a second
    // one lowers the first by what an encoder added).
    static constexpr double safeMargin = 0.5;
    static constexpr int maxExtraPasses = 3;
    static constexpr int maxLowered = 2;

    // What one conversion is given.
    struct Setting {
        double gain = 0;   // dB
        double limit = 0;  // dBTP
        bool safe = false; // plain gain under the ceiling, nothing to limit
    };
    struct Pass {
        Setting setting;
        Loudness result; // the output, measured
        QString file;    // the output file
    };

    LoudnessSearch(service::LoudnessGoal goal, Loudness source);

    Setting first() const;
    // Records a finished pass; the setting of the next one, or none when the search is over.
    std::optional<Setting> next(Pass pass);

    // The pass whose output to keep: the loudest under the ceiling and not above the target;
    // else the quietest under the ceiling; else the one nearest to it. Only after a pass was
    // recorded.
    const Pass &best() const;
    const QList<Pass> &passes() const { return m_passes; }
    // Whether best() keeps the true peak at or under the ceiling; an output that does not is
    // never to be delivered.
    bool holdsCeiling() const;
    // The item's detail when the kept output is not on target under the ceiling: what it reaches
    // (or, when it does not hold the ceiling, why it failed).
    std::optional<QString> shortfall() const;

    // "−14", "−15.3": decibels as the page writes them (no decimals: as short as they go).
    static QString decibels(double value, int decimals);

private:
    bool withinCeiling(const Pass &pass) const;
    bool onTarget(const Pass &pass) const;
    // Under the ceiling and not above the target.
    bool acceptable(const Pass &pass) const;
    // The search's own next setting, before any safe pass.
    std::optional<Setting> searchNext();
    Setting safe() const;
    // The first pass came out as loud and as peaky as the source although it was given gain.
    bool ignoredGain(const Pass &pass) const;
    // The gain for the next pass at that limit; none when more gain buys next to nothing.
    std::optional<double> nextGain(double limit) const;

    service::LoudnessGoal m_goal;
    Loudness m_source;
    QList<Pass> m_passes;
    bool m_exhausted = false;   // more gain was found to buy next to nothing
    bool m_gainIgnored = false; // the preset's script does not apply the gain
    bool m_searchOver = false;
    int m_extraPasses = 0;
    int m_lowered = 0; // passes that tried a result too loud under the ceiling with less gain
};

} // namespace vorlik::convert
