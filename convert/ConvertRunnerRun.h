#pragma once
// What one run of the convert runner works with; the loop and its conversions hold the runner
// only weakly, and this for as long as they run.
#include "convert/ConvertRunner.h"
#include "service/SessionStore.h"

#include <QSet>

namespace vorlik::convert {

struct ConvertRunner::Run {
    QList<service::Preset> presets;
    QString ffmpeg;
    QPointer<service::SessionStore> store;
    CancellationToken cancellation;
    std::shared_ptr<ProcessBox> box;
    quint64 number = 0;
    int lanes = 1;               // how many conversions may run side by side
    int activeLanes = 0;         // lanes started and not yet ended
    QSet<QUuid> taken;           // items a lane has taken in this run
    QSet<QString> reservedNames; // output names chosen by conversions still going
};

} // namespace vorlik::convert
