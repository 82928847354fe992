#pragma once
// The gain and limit that bring a source to its loudness goal through the preset's own script.
// The first pass applies the plain difference between the goal and the source's loudness, with the
// limit a little under the ceiling. Where the limiter has to hold peaks back, the result comes out
// quieter, and the next pass adds the gain the passes so far say is missing; where the finished
// output's true peak still passes the ceiling (overs from resampling or an encoder), it lowers the
// limit by what went over. A few passes at most. Material whose loudness lives in the peaks the
// limiter cuts gains next to nothing from more gain: the search stops there, keeps the loudest
// result under the ceiling, and says so.
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

    // What one conversion is given.
    struct Setting {
        double gain = 0;  // dB
        double limit = 0; // dBTP
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

    // The pass whose output to keep: the loudest under the ceiling and not above the target, else
    // the one that broke the limits least. Only after a pass was recorded.
    const Pass &best() const;
    const QList<Pass> &passes() const { return m_passes; }
    // The item's detail when the kept output is not on target under the ceiling: what it reaches.
    std::optional<QString> shortfall() const;

    // "−14", "−15.3": decibels as the page writes them (no decimals: as short as they go).
    static QString decibels(double value, int decimals);

private:
    bool withinCeiling(const Pass &pass) const;
    bool onTarget(const Pass &pass) const;
    // The gain for the next pass at that limit; none when more gain buys next to nothing.
    std::optional<double> nextGain(double limit) const;

    service::LoudnessGoal m_goal;
    Loudness m_source;
    QList<Pass> m_passes;
    bool m_exhausted = false; // more gain was found to buy next to nothing
};

} // namespace vorlik::convert
