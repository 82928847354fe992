#pragma once
// What one run of the convert runner works with; the loop and its conversions hold the runner
// only weakly, and this for as long as they run.
#include "convert/ConvertRunner.h"
#include "service/SessionStore.h"

namespace vorlik::convert {

struct ConvertRunner::Run {
    QList<service::Preset> presets;
    QString ffmpeg;
    QPointer<service::SessionStore> store;
    CancellationToken cancellation;
    std::shared_ptr<ProcessBox> box;
};

} // namespace vorlik::convert
