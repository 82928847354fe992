#pragma once
// The shell helper that finishes an install: it waits up to 60 seconds for the application to
// quit, removes the staging folder and itself, and starts the new version. Arguments:
// $1 new app path, $2 app name, $3 parent PID, $4 staging dir, $5 log file.
#include <QString>

namespace vorlik::update {

struct InstallHelperScript {
    // The script text, lines joined by line feeds, no final line feed. The relaunch line starts
    // the bundle's program `programName` detached from the helper, in a session of its own.
    static QString text(const QString &programName);
    // `text` as one shell word inside double quotes: `"`, `\`, `$` and "`" escaped.
    static QString doubleQuotedContent(const QString &text);
};

} // namespace vorlik::update
