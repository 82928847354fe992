// The session bridge on the real engine: the application's session written into the page's
// local storage (and removed again), the page's own sign-in and sign-out reaching the
// SessionStore, the record read at load end, the connect key offered to the page's form.
#include "tests/web/WebTabFixture.h"

#include "platform/Settings.h"
#include "tests/support/TestFiles.h"

#include <QJsonDocument>
#include <QJsonObject>

using namespace vorlik;
using namespace vorlik::test;

namespace {

class WebSessionBridge : public WebTabFixture {
protected:
    QJsonObject record(web::WebTabView &tab)
    {
        return QJsonDocument::fromJson(evaluate(tab, QStringLiteral("localStorage.getItem('vorlik_session') || ''")).toString().toUtf8()).object();
    }
    int sessionEvents(web::WebTabView &tab) { return evaluate(tab, QStringLiteral("vorlikPage.sessionEvents.length")).toInt(); }
    void signInNatively()
    {
        test::run(m_store->connect(http().demoKey()));
        ASSERT_TRUE(m_store->state().isConnected()) << m_store->state().message.toStdString();
    }
    int activations() const
    {
        int n = 0;
        for (const QJsonValue &request : http().requests())
            n += request.toObject().value(QStringLiteral("path")).toString() == QLatin1String("/v1/auth/activate") ? 1 : 0;
        return n;
    }
};

TEST_F(WebSessionBridge, signingInNativelyWritesTheRecordIntoThePageOnceAndSigningOutRemovesIt)
{
    web::WebTabView &tab = openCorrection();
    EXPECT_TRUE(record(tab).isEmpty());
    EXPECT_FALSE(tab.coordinator()->lastInjectedToken().has_value()); // nothing to remove: nothing ran

    signInNatively();
    ASSERT_TRUE(waitForPage(tab, QStringLiteral("vorlikPage.sessionEvents.length === 1")));
    const service::Session session = *m_store->session();
    EXPECT_EQ(record(tab), (QJsonObject{{QStringLiteral("access_token"), session.accessToken},
                                        {QStringLiteral("refresh_token"), session.refreshToken},
                                        {QStringLiteral("installation_id"), session.installationId},
                                        {QStringLiteral("client_id"), session.clientId}}));
    EXPECT_EQ(evaluate(tab, QStringLiteral("document.getElementById('signedInAs').textContent")).toString(),
              QStringLiteral("Signed in as ") + session.clientId);
    EXPECT_EQ(tab.coordinator()->lastInjectedToken(), m_store->webSessionPayload());

    // The page's watcher reports the application's own write; the store stays as it was; the
    // second push after the load and later view updates write nothing again.
    tab.setActive(true);
    settle(2500);
    EXPECT_EQ(sessionEvents(tab), 1);
    EXPECT_EQ(m_store->session()->accessToken, session.accessToken);
    EXPECT_TRUE(m_store->state().isConnected());
    EXPECT_EQ(m_log->countStartingWith(QStringLiteral("[web] session injection failed")), 0);

    m_store->disconnect();
    ASSERT_TRUE(waitForPage(tab, QStringLiteral("vorlikPage.sessionEvents.length === 2")));
    EXPECT_TRUE(evaluate(tab, QStringLiteral("vorlikPage.sessionEvents[1] === null && localStorage.getItem('vorlik_session') === null")).toBool());
    EXPECT_FALSE(tab.coordinator()->lastInjectedToken().has_value());
    tab.setActive(false);
    tab.setActive(true);
    settle(500);
    EXPECT_EQ(sessionEvents(tab), 2);
    EXPECT_EQ(m_store->state(), service::ConnectionState::disconnected());

    // A write the page refuses is logged and tried again at the next push.
    evaluate(tab, QStringLiteral("window.__setItem = Storage.prototype.setItem;"
                                 "Storage.prototype.setItem = function () { throw new Error('storage is full'); }; 1"));
    signInNatively();
    ASSERT_TRUE(m_log->waitFor(QStringLiteral("[web] session injection failed: the page did not take the session record")));
    EXPECT_FALSE(tab.coordinator()->lastInjectedToken().has_value());
    EXPECT_TRUE(record(tab).isEmpty());
    evaluate(tab, QStringLiteral("Storage.prototype.setItem = window.__setItem; 1"));
    tab.setActive(true);
    ASSERT_TRUE(waitUntil([&] { return tab.coordinator()->lastInjectedToken().has_value(); }));
    EXPECT_EQ(record(tab).value(QStringLiteral("access_token")).toString(), m_store->session()->accessToken);
}

TEST_F(WebSessionBridge, signingInInsideThePageSignsTheApplicationInAgainAtEveryStartAndSigningOutThereSignsItOut)
{
    // The key holds a quote and a backslash: it reaches the page's field as typed.
    platform::Settings::standard().setOverride(QStringLiteral("webConnectKey"), quotedKey());
    web::WebTabView &first = openCorrection();
    ASSERT_TRUE(waitUntil([&] { return m_store->state().isConnected(); })) << m_store->state().message.toStdString();
    EXPECT_EQ(evaluate(first, QStringLiteral("vorlikPage.lastConnectKey")).toString(), quotedKey());
    EXPECT_TRUE(first.coordinator()->didInjectWebConnectKey());
    const QJsonObject stored = record(first);
    ASSERT_TRUE(m_store->session().has_value());
    EXPECT_EQ(m_store->session()->accessToken, stored.value(QStringLiteral("access_token")).toString());
    EXPECT_EQ(m_store->session()->clientId, stored.value(QStringLiteral("client_id")).toString());
    EXPECT_TRUE(m_store->session()->sessionId.isEmpty()); // taken over from the page
    // The key is offered once per tab, not on every load.
    navigate(first, web::WebTabView::correctionURL());
    settle(300);
    EXPECT_EQ(activations(), 1);

    // A new start of the application: a new store, the key no longer offered, the same profile.
    closeTabs();
    platform::Settings::standard().setOverride(QStringLiteral("webConnectKey"), QString());
    m_store = std::make_unique<service::SessionStore>();
    web::WebTabView &tab = openCorrection();
    ASSERT_TRUE(waitUntil([&] { return m_store->state().isConnected(); }));
    EXPECT_EQ(m_store->session()->accessToken, stored.value(QStringLiteral("access_token")).toString());
    EXPECT_EQ(activations(), 1);

    clickAt(tab.webView(), centreOf(tab.page(), QStringLiteral("#signOut")));
    ASSERT_TRUE(waitUntil([&] { return !m_store->session().has_value(); }));
    EXPECT_EQ(m_store->state(), service::ConnectionState::disconnected());
}

TEST_F(WebSessionBridge, aPageOfAnotherOriginNeverReportsItsSignInButGetsTheApplicationsSession)
{
    // The Cinema page lives on the service's own host, not on the base URL's origin.
    web::WebTabView &cinema = openCinema();
    evaluate(cinema, QStringLiteral("document.getElementById('apiKey').value = '%1'; document.getElementById('connect').click(); 1")
                         .arg(https().demoKey()));
    ASSERT_TRUE(waitForPage(cinema, QStringLiteral("localStorage.getItem('vorlik_session') !== null")));
    settle(500);
    EXPECT_EQ(m_store->state(), service::ConnectionState::disconnected());
    EXPECT_EQ(m_log->countStartingWith(QStringLiteral("[session] adopting web session")), 0);

    signInNatively();
    ASSERT_TRUE(waitForPage(cinema, QStringLiteral("vorlikPage.sessionEvents.length === 1")));
    EXPECT_EQ(record(cinema).value(QStringLiteral("access_token")).toString(), m_store->session()->accessToken);
}

} // namespace
