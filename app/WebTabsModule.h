#pragma once
// The web tabs' module (vorlik-web-tabs.so), loaded once the main window is on screen rather
// than with the program: the web engine's libraries and its OpenGL set-up cost more than the
// rest of the start-up together. It lies beside the program (a build folder, the bundle) or in
// ../lib/vorlik-desktop (an installed copy).
#include <QString>
#include <QStringList>

namespace vorlik::web {
struct WebTabsInterface;
}

namespace vorlik::app {

class WebTabsModule {
public:
    static QString fileName() { return QStringLiteral("vorlik-web-tabs.so"); }

    // Loads the module on first use and answers its table, or nullptr when it cannot be
    // loaded (the reason is logged in category "web", once).
    static const web::WebTabsInterface *load();

    // Why load() answered nullptr, in a sentence; empty while it has not.
    static QString failure();
    // The table of the module at `path`, or nullptr with the reason in `failure`.
    static const web::WebTabsInterface *open(const QString &path, QString *failure);

    // Where the module is looked for, in order, for a program in `programFolder`.
    static QStringList candidates(const QString &programFolder);
    // The folder of the program the module belongs to; by default the running program's.
    // Tests that run the window outside that folder name the program's.
    static void setProgramFolder(const QString &folder);

private:
    // The web engine shares its OpenGL contexts with the window's; the shared context must
    // exist before the engine's libraries are loaded.
    static void prepareSharedContexts();
};

} // namespace vorlik::app
