#pragma once
// What the user is told when a download stops before its end. The engine names some reasons
// wrongly (a transfer cut short reads "canceled by the user"), so the texts are the program's own.
#include <QString>

namespace vorlik::web {

struct DownloadInterruption {
    // reason: QWebEngineDownloadRequest::DownloadInterruptReason (the engine's own numbers);
    // engineText: the engine's description, used for reasons not listed here.
    static QString describe(int reason, const QString &engineText);
};

} // namespace vorlik::web
