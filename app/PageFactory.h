#pragma once
// Makes the four pages of the main window, once each. The pages get the session store and a
// way to bring up Preferences; the web tabs are left empty under the "skipWebTabs" setting.
#include "app/AppTab.h"
#include "app/Page.h"

#include <functional>

namespace vorlik::platform {
class Settings;
}
namespace vorlik::service {
class SessionStore;
}

namespace vorlik::app {

class PageFactory {
public:
    PageFactory(service::SessionStore &store, std::function<void()> showPreferences,
                const platform::Settings &settings);

    Page make(AppTab tab, QWidget *parent) const;

private:
    Page webPage(AppTab tab, QWidget *parent) const;
    Page convertPage(QWidget *parent) const;
    Page analysisPage(QWidget *parent) const;

    service::SessionStore &m_store;
    std::function<void()> m_showPreferences;
    const platform::Settings &m_settings;
};

} // namespace vorlik::app
