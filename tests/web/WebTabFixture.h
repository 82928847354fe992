#pragma once
// A test with real web tabs against the stand-in service: the Correction page on the plain
// HTTP server (the service base URL) and the Cinema page on the HTTPS server, which plays the
// service's own host ("localhost"). Each test gets a fresh SessionStore and fresh settings
// overrides; its tabs are shown as windows of their own and closed at the end.
#include "service/SessionStore.h"
#include "tests/support/DevServer.h"
#include "tests/web/WebHarness.h"
#include "web/Coordinator.h"
#include "web/VorlikWebPage.h"
#include "web/VorlikWebView.h"
#include "web/WebTabView.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <memory>
#include <vector>

namespace vorlik::test {

class WebTabFixture : public ::testing::Test {
public:
    // Accepted by the stand-in service besides its demo key.
    static QString quotedKey() { return QStringLiteral("vk_o'brien\\desk"); }

    static DevServer &http();
    static DevServer &https();

protected:
    void SetUp() override;
    void TearDown() override;

    // A shown, selected tab whose first page has finished loading (openURL, when set, instead).
    web::WebTabView &openCorrection();
    web::WebTabView &openCinema();
    web::WebTabView &openTab(const QUrl &url, bool isCorrection, const QUrl &expectedPage = {});
    void closeTabs();

    // Loads url in the tab and waits for the load to end.
    void navigate(web::WebTabView &tab, const QUrl &url);
    QVariant evaluate(web::WebTabView &tab, const QString &script);
    // Waits until the page's script expression is true.
    bool waitForPage(web::WebTabView &tab, const QString &condition, int timeoutMs = 20000);

    // A folder of this test's own.
    QString scratch(const QString &name) const { return m_scratch.filePath(name); }

    std::unique_ptr<service::SessionStore> m_store;
    std::unique_ptr<LogWatch> m_log;
    std::vector<std::unique_ptr<web::WebTabView>> m_tabs;
    QTemporaryDir m_scratch;
};

} // namespace vorlik::test
