#pragma once
// How far the item being analysed has got: its upload (bytes of the file sent, of its size),
// then its job on the service (running since `since`), which says nothing of how
// far it is.
#include <QString>
#include <QUuid>

#include <chrono>
#include <optional>

namespace vorlik::analysis {

struct AnalysisProgress {
    enum class Stage { uploading, analysing };
    QUuid item;
    Stage stage = Stage::uploading;
    qint64 sent = 0;
    qint64 total = 0;
    std::chrono::steady_clock::time_point since;

    // sent / total while uploading; none while the job runs.
    std::optional<double> fraction() const;
    // "1.2 MB of 3.4 MB" while uploading, then "Analysing… 0:07".
    QString text(std::chrono::steady_clock::time_point now) const;
};

} // namespace vorlik::analysis
