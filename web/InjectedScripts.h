#pragma once
// The texts the application runs in the service's pages: the user scripts injected into every
// page, the session record writes, the connect-key offer, the drop target search, the drag
// highlight. The page side relies on them as they stand. (The file bridge: BridgeInjection.)
#include <QString>
#include <QStringList>

namespace vorlik::web {

struct InjectedScripts {
    // User scripts (main frame only).
    static QString embedStyle();         // at document end
    static QString consoleForwarding();  // at document start
    static QString sessionWatcher(const QString &expectedOrigin); // at document start

    // Session record (payload: the record's JSON text, inserted as an object literal).
    static QString pushSession(const QString &payload);
    static QString removeSession();
    static QString readSession();
    // The key must already be escaped with escapeForSingleQuotes.
    static QString offerConnectKey(const QString &escapedKey);

    // Drop routing.
    static QString dragEntered();
    static QString dragExited();
    static QString dropTarget(double x, double y, const QString &fallbackZone); // "z51" or "zImm"
    static QString panelConsumed();
    static QString dropAreaCenter();
    static QString queueStatus();
    // The centre of the chooser's label ("folder" anywhere in request: the folder label), or null.
    static QString chooserLabelCentre(const QString &request);

    // Every "\" becomes "\\", then every "'" becomes "\'".
    static QString escapeForSingleQuotes(const QString &text);
    // A number as script text ("12", "12.5").
    static QString number(double value);
};

} // namespace vorlik::web
