#include "app/PageFactory.h"

#include "analysis/AnalysisView.h"
#include "app/PlaceholderPage.h"
#include "app/QueueEndNotice.h"
#include "convert/ConvertView.h"
#include "platform/Settings.h"
#include "app/WebTabSlot.h"

namespace vorlik::app {

PageFactory::PageFactory(service::SessionStore &store, std::function<void()> showPreferences,
                         const platform::Settings &settings)
    : m_store(store), m_showPreferences(std::move(showPreferences)), m_settings(settings)
{
}

Page PageFactory::make(AppTab tab, QWidget *parent) const
{
    switch (tab) {
    case AppTab::analysis:
    case AppTab::cinema:
        return webPage(tab, parent);
    case AppTab::convert:
        return convertPage(parent);
    case AppTab::audioInfo:
        return analysisPage(parent);
    }
    return {};
}

Page PageFactory::webPage(AppTab tab, QWidget *parent) const
{
    // With "skipWebTabs" no web view is created at all; otherwise the window fills the slot
    // once it is on screen.
    if (m_settings.boolean(QStringLiteral("skipWebTabs")))
        return Page::of(new PlaceholderPage(title(tab), parent));
    return Page::of(new WebTabSlot(tab == AppTab::analysis, parent));
}

Page PageFactory::convertPage(QWidget *parent) const
{
    auto *page = new convert::ConvertView(m_store, parent);
    QObject::connect(page, &convert::ConvertView::preferencesRequested, page, m_showPreferences);
    QueueEndNotice::watch(page, QStringLiteral("Conversion queue ended"));
    return Page::of(page);
}

Page PageFactory::analysisPage(QWidget *parent) const
{
    auto *page = new analysis::AnalysisView(m_store, parent);
    QObject::connect(page, &analysis::AnalysisView::preferencesRequested, page, m_showPreferences);
    QueueEndNotice::watch(page, QStringLiteral("Analysis queue ended"));
    return Page::of(page);
}

} // namespace vorlik::app
