#pragma once
// One message a page posted on a native message channel, with the frame it came from as the
// application's own page-side script saw it.
#include "web/SecurityOrigin.h"

#include <QString>
#include <QVariant>

namespace vorlik::web {

struct NativeMessage {
    QString name;          // the channel: "vorlikSession", "vorlikLog"
    QVariant body;         // what the page passed to postMessage (a string, number, list, map or null)
    SecurityOrigin origin; // the origin of the frame that posted it
    bool isMainFrame = false;
};

} // namespace vorlik::web
