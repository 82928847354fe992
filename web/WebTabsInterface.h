#pragma once
// What the web tabs' module (vorlik-web-tabs.so, built from web/) offers the program that
// loads it: one table of functions, found under the C name `vorlik_web_tabs`. Only Qt's own
// types and the program's cross the boundary; the web engine stays inside the module.
#include <QWidget>

namespace vorlik::service {
class SessionStore;
}

namespace vorlik::web {

struct WebTabsInterface {
    // Changes whenever a member below changes, so a module of another build is refused.
    static constexpr int currentVersion = 1;
    int version = currentVersion;

    // A web tab (WebTabView) for Correction or Cinema, loading its page at once.
    QWidget *(*makeTab)(bool isCorrection, service::SessionStore &store, bool active, QWidget *parent) = nullptr;
    // WebTabView::setActive of a tab made above.
    void (*setActive)(QWidget *tab, bool active) = nullptr;
};

using WebTabsEntry = const WebTabsInterface *(*)();

} // namespace vorlik::web
