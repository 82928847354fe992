#pragma once
// The application menu: "About Vorlik Desktop", "Preferences…" (Ctrl+Comma) and Quit (Ctrl+Q).
// The shortcuts work from every window of the application.
class QMenuBar;

namespace vorlik::app {

class AppDelegate;
class AppWindows;

struct AppMenu {
    static void install(QMenuBar *bar, AppWindows &windows, AppDelegate &delegate);
};

} // namespace vorlik::app
