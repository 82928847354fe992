#include "update/InstallHelperScript.h"

#include <QStringList>

namespace vorlik::update {

QString InstallHelperScript::doubleQuotedContent(const QString &text)
{
    QString quoted;
    quoted.reserve(text.size());
    for (const QChar c : text) {
        if (c == u'"' || c == u'\\' || c == u'$' || c == u'`')
            quoted += u'\\';
        quoted += c;
    }
    return quoted;
}

QString InstallHelperScript::text(const QString &programName)
{
    const QStringList lines{
        QStringLiteral("#!/bin/bash"),
        QStringLiteral("# $1 new app path  $2 app name  $3 parent PID  $4 staging dir  $5 log file"),
        QStringLiteral("set -u"),
        QStringLiteral("APP=\"$1\"; NAME=\"$2\"; PARENT=\"$3\"; STAGING=\"$4\"; LOG=\"$5\""),
        QStringLiteral("exec >>\"$LOG\" 2>&1"),
        QStringLiteral("echo \"install helper: waiting for PID $PARENT to exit\""),
        QStringLiteral("for i in $(seq 1 240); do"),
        QStringLiteral("    kill -0 \"$PARENT\" 2>/dev/null || break"),
        QStringLiteral("    sleep 0.25"),
        QStringLiteral("done"),
        QStringLiteral("if kill -0 \"$PARENT\" 2>/dev/null; then"),
        QStringLiteral("    echo \"install helper: parent did not exit — aborting relaunch (app is installed)\""),
        QStringLiteral("    exit 2"),
        QStringLiteral("fi"),
        QStringLiteral("sleep 1"),
        QStringLiteral("rm -rf \"$STAGING\" 2>/dev/null"),
        QStringLiteral("rm -f \"$0\" 2>/dev/null"),
        // Where the system's `open` would start the application: its program, detached.
        QStringLiteral("setsid \"$APP/Contents/MacOS/") + doubleQuotedContent(programName)
            + QStringLiteral("\" >/dev/null 2>&1 < /dev/null &"),
        QStringLiteral("echo \"install helper: relaunched $APP\""),
    };
    return lines.join(u'\n');
}

} // namespace vorlik::update
