#include "tests/web/WebTabFixture.h"

#include "platform/ServiceConfig.h"
#include "platform/Settings.h"
#include "web/DropRouter.h"

#include <QWebEngineProfile>

namespace vorlik::test {

using platform::Settings;

DevServer &WebTabFixture::http()
{
    return DevServer::shared({QStringLiteral("--key"), quotedKey()});
}

DevServer &WebTabFixture::https()
{
    return DevServer::sharedTls();
}

void WebTabFixture::SetUp()
{
    Settings::standard().clearOverrides();
    Settings::standard().setOverride(QStringLiteral("baseURL"), http().baseUrl().toString());
    QUrl own = https().baseUrl();
    own.setHost(QStringLiteral("localhost"));
    platform::ServiceConfig::setCurrentForTesting(own);
    http().reset();
    https().reset();
    web::DropRouter::shared() = web::DropRouter();
    m_log = std::make_unique<LogWatch>();
    m_store = std::make_unique<service::SessionStore>();
}

void WebTabFixture::TearDown()
{
    // The profile keeps local storage on disk: the next test starts signed out.
    for (const auto &tab : m_tabs)
        test::evaluate(tab->page(), QStringLiteral("try { localStorage.clear(); } catch (e) {} 1"));
    closeTabs();
    m_store.reset();
    m_log.reset();
    web::DropRouter::shared() = web::DropRouter();
    platform::ServiceConfig::setCurrentForTesting(QUrl());
    Settings::standard().clearOverrides();
}

void WebTabFixture::closeTabs()
{
    m_tabs.clear();
    // Let the engine finish tearing the pages down before the next test makes new ones.
    settle(50);
}

web::WebTabView &WebTabFixture::openCorrection()
{
    return openTab(web::WebTabView::correctionURL(), true);
}

web::WebTabView &WebTabFixture::openCinema()
{
    return openTab(web::WebTabView::cinemaURL(), false);
}

web::WebTabView &WebTabFixture::openTab(const QUrl &url, bool isCorrection, const QUrl &expectedPage)
{
    const QUrl page = expectedPage.isEmpty() ? url : expectedPage;
    const QString finished = QStringLiteral("[web] didFinish ") + page.toString(QUrl::FullyEncoded);
    const int before = m_log->count(finished);
    auto tab = std::make_unique<web::WebTabView>(url, isCorrection, *m_store, true);
    tab->resize(1000, 720);
    tab->show();
    web::WebTabView &opened = *tab;
    m_tabs.push_back(std::move(tab));
    EXPECT_TRUE(waitUntil([&] { return m_log->count(finished) > before; })) << "never loaded: " << qPrintable(finished);
    return opened;
}

void WebTabFixture::navigate(web::WebTabView &tab, const QUrl &url)
{
    const QString finished = QStringLiteral("[web] didFinish ") + url.toString(QUrl::FullyEncoded);
    const int before = m_log->count(finished);
    tab.page()->load(url);
    EXPECT_TRUE(waitUntil([&] { return m_log->count(finished) > before; })) << "never loaded: " << qPrintable(finished);
}

QVariant WebTabFixture::evaluate(web::WebTabView &tab, const QString &script)
{
    return test::evaluate(tab.page(), script);
}

bool WebTabFixture::waitForPage(web::WebTabView &tab, const QString &condition, int timeoutMs)
{
    return waitUntil([&] { return test::evaluate(tab.page(), QStringLiteral("!!(") + condition + QLatin1Char(')')).toBool(); },
                     timeoutMs);
}

} // namespace vorlik::test
