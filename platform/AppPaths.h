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
    // The system temporary folder (TMPDIR, else /tmp). Unlike QDir::tempPath(), a TMPDIR that
    // names a missing folder is kept as named, so files made there fail instead of landing in "/".
    static QString temporary();
};

} // namespace vorlik::platform
