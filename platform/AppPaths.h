#pragma once
#include <QString>

namespace vorlik::platform {

// Folders the application owns: <XDG data home>/Vorlik and the named folders below it.
// Nothing here creates a folder; each owner creates its own when it first writes.
struct AppPaths {
    static QString applicationSupport(); // ~/.local/share/Vorlik
    static QString ffmpegTools();        // .../Vorlik/FFmpegTools
    static QString updates();            // .../Vorlik/Updates
    static QString logs();               // .../Vorlik/Logs
    static QString downloads();          // the user's Downloads folder
};

} // namespace vorlik::platform
