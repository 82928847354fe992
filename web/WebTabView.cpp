#include "web/WebTabView.h"

#include "platform/ServiceConfig.h"
#include "platform/Settings.h"
#include "service/APIClient.h"
#include "web/Coordinator.h"
#include "web/DropRouter.h"
#include "web/VorlikWebPage.h"
#include "web/VorlikWebView.h"
#include "web/WebProfile.h"

#include <QVBoxLayout>
#include <QWebEngineProfile>

namespace vorlik::web {

QUrl WebTabView::correctionURL()
{
    return service::APIClient::url(QStringLiteral("correction"));
}

QUrl WebTabView::cinemaURL()
{
    const QUrl origin = platform::ServiceConfig::current().origin;
    QUrl url;
    url.setScheme(QStringLiteral("https"));
    url.setHost(origin.host());
    url.setPort(origin.scheme() == QLatin1String("https") ? origin.port() : -1);
    url.setPath(QStringLiteral("/cinema"));
    return url;
}

WebTabView::WebTabView(QUrl url, bool isCorrection, service::SessionStore &store, bool active, QWidget *parent)
    : QWidget(parent), m_url(std::move(url)), m_isCorrection(isCorrection), m_profile(WebProfile::acquire()),
      m_coordinator(std::make_unique<Coordinator>(isCorrection, &store))
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_view = new VorlikWebView(this);
    m_page = new VorlikWebPage(m_profile.get(), *m_coordinator, m_view);
    m_view->setPage(m_page);
    layout->addWidget(m_view);
    m_coordinator->attach(*m_view, *m_page, *m_profile);

    // The drop handler holds the view and the coordinator weakly: a drop after the tab is gone
    // goes nowhere.
    QPointer<VorlikWebView> view = m_view;
    QPointer<Coordinator> coordinator = m_coordinator.get();
    DropRouter::Handler handler = [view, coordinator](const QList<QUrl> &files, QPointF point) {
        if (view && coordinator)
            coordinator->handleDroppedFiles(files, point, view);
    };
    DropRouter &router = DropRouter::shared();
    if (m_isCorrection) {
        router.correctionHandler = std::move(handler);
        router.correctionActive = active;
    } else {
        router.cinemaHandler = std::move(handler);
    }
    m_view->onFilesDropped = [](const QList<QUrl> &files, QPointF point) { DropRouter::shared().route(files, point); };

    const std::optional<QString> openURL = platform::Settings::standard().optionalString(QStringLiteral("openURL"));
    const QUrl requested = openURL ? QUrl(*openURL, QUrl::StrictMode) : QUrl();
    m_page->load(requested.isValid() && !requested.scheme().isEmpty() ? requested : m_url);

    setActive(active);
}

WebTabView::~WebTabView()
{
    // The page goes before its profile, the coordinator after the page that calls it.
    delete m_view;
    m_view = nullptr;
    m_page = nullptr;
    m_coordinator.reset();
}

void WebTabView::setActive(bool active)
{
    m_active = active;
    m_view->setVisible(active);
    m_view->setAcceptsFileDrops(active);
    if (m_isCorrection)
        DropRouter::shared().correctionActive = active;
    m_coordinator->pushNativeSession(m_view);
}

} // namespace vorlik::web
