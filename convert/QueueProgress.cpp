#include "convert/QueueProgress.h"

#include "convert/ProgressText.h"

#include <algorithm>

namespace vorlik::convert {

using std::chrono::milliseconds;

QueueProgress QueueProgress::of(const QList<QueueItem> &items, const QHash<QUuid, ConversionProgress> &converting,
                                std::optional<milliseconds> typical, int simultaneous,
                                ConversionProgress::Clock::time_point now)
{
    QueueProgress result;
    result.total = items.size();
    qsizetype waiting = 0;
    for (const QueueItem &item : items) {
        if (!item.isPending())
            ++result.finished;
        else if (!converting.contains(item.id))
            ++waiting;
    }

    for (const ConversionProgress &progress : converting)
        result.partial += progress.fraction.value_or(0.0);

    // Before any item of the run has finished, an item converting now says how long one takes.
    if (!typical) {
        for (const ConversionProgress &progress : converting) {
            if (const std::optional<milliseconds> left = progress.remaining(now)) {
                typical = progress.elapsed(now) + *left;
                break;
            }
        }
    }
    if (!typical)
        return result;

    double work = double(waiting) * double(typical->count());
    for (const ConversionProgress &progress : converting) {
        const std::optional<milliseconds> left = progress.remaining(now);
        work += double(left ? left->count() : std::max<qint64>(0, (*typical - progress.elapsed(now)).count()));
    }
    const qsizetype lanes = std::clamp<qsizetype>(waiting + converting.size(), 1, std::max(1, simultaneous));
    result.left = milliseconds(qint64(work / double(lanes)));
    return result;
}

QString QueueProgress::text() const
{
    QString line = QString::number(finished) + QStringLiteral(" of ") + QString::number(total)
        + (total == 1 ? QStringLiteral(" file") : QStringLiteral(" files"));
    if (left)
        line += QStringLiteral(" \u00B7 about ") + ProgressText::left(*left);
    return line;
}

} // namespace vorlik::convert
