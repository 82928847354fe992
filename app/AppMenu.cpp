#include "app/AppMenu.h"

#include "app/AppDelegate.h"
#include "app/AppWindows.h"

#include <QAction>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>

namespace vorlik::app {

void AppMenu::install(QMenuBar *bar, AppWindows &windows, AppDelegate &delegate)
{
    QMenu *menu = bar->addMenu(QStringLiteral("Vorlik Desktop"));
    menu->setObjectName(QStringLiteral("applicationMenu"));

    QAction *about = menu->addAction(QStringLiteral("About Vorlik Desktop"));
    about->setObjectName(QStringLiteral("aboutAction"));
    about->setMenuRole(QAction::AboutRole);
    QObject::connect(about, &QAction::triggered, &windows, [&windows] { windows.showAbout(); });

    menu->addSeparator();

    QAction *preferences = menu->addAction(QStringLiteral("Preferences…"));
    preferences->setObjectName(QStringLiteral("preferencesAction"));
    preferences->setMenuRole(QAction::PreferencesRole);
    preferences->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Comma));
    preferences->setShortcutContext(Qt::ApplicationShortcut);
    QObject::connect(preferences, &QAction::triggered, &windows, [&windows] { windows.showPreferences(); });

    menu->addSeparator();

    QAction *quit = menu->addAction(QStringLiteral("Quit Vorlik Desktop"));
    quit->setObjectName(QStringLiteral("quitAction"));
    quit->setMenuRole(QAction::QuitRole);
    quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    quit->setShortcutContext(Qt::ApplicationShortcut);
    QObject::connect(quit, &QAction::triggered, &delegate, [&delegate] { delegate.requestQuit(); });
}

} // namespace vorlik::app
