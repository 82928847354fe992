#pragma once
// The whole queue's progress for its header: files finished of all files, and an estimate of
// the time left from the items converting now and the pace of those finished in this run.
#include "convert/ConversionProgress.h"
#include "convert/QueueItem.h"

#include <QHash>
#include <QList>
#include <QUuid>

#include <chrono>
#include <optional>

namespace vorlik::convert {

struct QueueProgress {
    qsizetype finished = 0; // done or failed
    qsizetype total = 0;
    double partial = 0; // how far the items converting now are, in files
    std::optional<std::chrono::milliseconds> left;

    // `converting` holds the items being converted now; `typical` is how long a finished item of
    // this run took on average (none before the first); `simultaneous` how many run side by side.
    static QueueProgress of(const QList<QueueItem> &items, const QHash<QUuid, ConversionProgress> &converting,
                            std::optional<std::chrono::milliseconds> typical, int simultaneous,
                            ConversionProgress::Clock::time_point now);

    // "3 of 50 files" and, when there is an estimate, " · about 1:20 left"; 0..1 for a bar.
    QString text() const;
    double fraction() const { return total > 0 ? (double(finished) + partial) / double(total) : 0.0; }
};

} // namespace vorlik::convert
