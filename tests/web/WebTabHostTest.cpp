#include "tests/web/WebTabFixture.h"

#include "platform/AppPaths.h"
#include "platform/Settings.h"
#include "tests/support/TestFiles.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QWebEngineLoadingInfo>
#include <QWebEngineProfile>

using namespace vorlik;
using namespace vorlik::test;

namespace {

class WebTabHost : public WebTabFixture {
protected:
    QUrl httpUrl(const QString &path) const { return http().baseUrl().resolved(QUrl(path)); }
    QUrl ownUrl(const QString &path) const
    {
        QUrl url = https().baseUrl().resolved(QUrl(path));
        url.setHost(QStringLiteral("localhost"));
        return url;
    }
    // The requests the plain service saw for path.
    QList<QJsonObject> requestsFor(const QString &path) const
    {
        QList<QJsonObject> found;
        for (const QJsonValue &request : http().requests())
            if (request.toObject().value(QStringLiteral("path")).toString() == path)
                found << request.toObject();
        return found;
    }
    void embedFrame(web::WebTabView &tab, const QUrl &url)
    {
        evaluate(tab, QStringLiteral("var f = document.createElement('iframe'); f.src = '%1'; document.body.appendChild(f); 1")
                          .arg(url.toString(QUrl::FullyEncoded)));
    }
    void addLink(web::WebTabView &tab, const QString &id, const QString &href, const QString &target = {})
    {
        evaluate(tab, QStringLiteral("var a = document.createElement('a'); a.id = '%1'; a.href = '%2'; a.target = '%3';"
                                     " a.textContent = '%1'; document.body.prepend(a); 1").arg(id, href, target));
    }
    QJsonObject record(web::WebTabView &tab)
    {
        return QJsonDocument::fromJson(evaluate(tab, QStringLiteral("localStorage.getItem('vorlik_session') || ''")).toString().toUtf8()).object();
    }
    int sessionEvents(web::WebTabView &tab) { return evaluate(tab, QStringLiteral("vorlikPage.sessionEvents.length")).toInt(); }
    qsizetype activations() const { return requestsFor(QStringLiteral("/v1/auth/activate")).size(); }
    void signInNatively()
    {
        test::run(m_store->connect(http().demoKey()));
        ASSERT_TRUE(m_store->state().isConnected()) << m_store->state().message.toStdString();
    }
};

TEST_F(WebTabHost, theTwoTabsOpenTheirPagesUnderTheEmbedStyleWithTheApplicationsUserAgentAndPersistentStorage)
{
    web::WebTabView &correction = openCorrection();
    web::WebTabView &cinema = openCinema();
    EXPECT_EQ(correction.page()->url(), httpUrl(QStringLiteral("/correction")));
    EXPECT_EQ(cinema.page()->url(), ownUrl(QStringLiteral("/cinema")));
    EXPECT_EQ(evaluate(cinema, QStringLiteral("document.body.dataset.page")).toString(), QStringLiteral("cinema"));
    for (web::WebTabView *tab : {&correction, &cinema}) {
        EXPECT_EQ(evaluate(*tab, QStringLiteral("getComputedStyle(document.querySelector('.top-bar')).display")).toString(), QStringLiteral("none"));
        EXPECT_EQ(evaluate(*tab, QStringLiteral("typeof window.webkit.messageHandlers.vorlikLog.postMessage")).toString(), QStringLiteral("function"));
    }
    EXPECT_EQ(evaluate(correction, QStringLiteral("getComputedStyle(document.body).paddingTop")).toString(), QStringLiteral("20px"));
    EXPECT_EQ(evaluate(correction, QStringLiteral("document.querySelectorAll('#vorlik-app-embed').length")).toInt(), 1);
    const QString agent = QStringLiteral("VorlikDesktop/1.0 (Safari WebView)");
    EXPECT_EQ(evaluate(correction, QStringLiteral("navigator.userAgent")).toString(), agent);
    ASSERT_FALSE(requestsFor(QStringLiteral("/correction")).isEmpty());
    EXPECT_EQ(requestsFor(QStringLiteral("/correction")).last().value(QStringLiteral("headers")).toObject().value(QStringLiteral("User-Agent")).toString(), agent);
    const QWebEngineProfile *profile = correction.page()->profile();
    EXPECT_FALSE(profile->isOffTheRecord());
    EXPECT_EQ(profile->persistentStoragePath(), QDir(platform::AppPaths::applicationSupport()).filePath(QStringLiteral("WebData")));

    EXPECT_GT(QFileInfo(saveScreenshot(&correction, QStringLiteral("web-correction-tab"))).size(), 2000);
    EXPECT_GT(QFileInfo(saveScreenshot(&cinema, QStringLiteral("web-cinema-tab"))).size(), 2000);
}

TEST_F(WebTabHost, aUsersLinksOpenInTheBrowserOrDownloadWhileTheTabStaysAndScriptsGoNowhere)
{
    UrlCatcher browser;
    NotificationCatcher notifications;
    const QDir downloads(platform::AppPaths::downloads());
    QDir(downloads).removeRecursively();
    web::WebTabView &tab = openCorrection();
    const QUrl correction = httpUrl(QStringLiteral("/correction"));

    // Another site, and a link that asks for a new window (pages get none).
    addLink(tab, QStringLiteral("blank"), QStringLiteral("https://example.org/new-window"), QStringLiteral("_blank"));
    clickAt(tab.webView(), centreOf(tab.page(), QStringLiteral("#helpLink")));
    clickAt(tab.webView(), centreOf(tab.page(), QStringLiteral("#blank")));
    ASSERT_TRUE(waitUntil([&] { return browser.urls.size() == 2; }));
    EXPECT_EQ(browser.urls, QList<QUrl>({QUrl(QStringLiteral("https://example.org/vorlik-help")), QUrl(QStringLiteral("https://example.org/new-window"))}));
    EXPECT_EQ(tab.page()->url(), correction);
    EXPECT_EQ(m_log->countStartingWith(QStringLiteral("[web] blocked navigation")), 0);

    // A redirect by script, and a click on the link made by a script: neither is the user's.
    evaluate(tab, QStringLiteral("location.href = 'https://example.org/elsewhere'; 1"));
    EXPECT_TRUE(m_log->waitFor(QStringLiteral("[web] blocked navigation (-1) to https://example.org/elsewhere")));
    evaluate(tab, QStringLiteral("document.getElementById('helpLink').click(); 1"));
    EXPECT_TRUE(m_log->waitFor(QStringLiteral("[web] blocked navigation (-1) to https://example.org/vorlik-help")));
    EXPECT_EQ(browser.urls.size(), 2);

    // A PDF is saved to Downloads under a free name each time, never shown in the tab.
    const QByteArray served = http().call("GET", QStringLiteral("/files/report.pdf")).second;
    ASSERT_TRUE(served.startsWith("%PDF-"));
    for (int round = 1; round <= 2; ++round) {
        clickAt(tab.webView(), centreOf(tab.page(), QStringLiteral("#reportLink")));
        ASSERT_TRUE(waitUntil([&] { return m_log->count(QStringLiteral("[download] finished: report.pdf")) == round; }));
    }
    EXPECT_EQ(readFile(downloads.filePath(QStringLiteral("report.pdf"))), served);
    EXPECT_EQ(readFile(downloads.filePath(QStringLiteral("report (1).pdf"))), served);
    EXPECT_EQ(tab.page()->url(), correction);

    // A download that breaks off leaves no file and tells the user.
    addLink(tab, QStringLiteral("broken"), QStringLiteral("/files/broken.pdf"));
    clickAt(tab.webView(), centreOf(tab.page(), QStringLiteral("#broken")));
    ASSERT_TRUE(waitUntil([&] { return m_log->countStartingWith(QStringLiteral("[download] failed: ")) == 1; }));
    EXPECT_TRUE(waitUntil([&] { return downloads.entryList(QDir::Files | QDir::Hidden).size() == 2; }, 3000))
        << downloads.entryList(QDir::Files | QDir::Hidden).join(QLatin1Char(' ')).toStdString();
    EXPECT_EQ(m_log->countStartingWith(QStringLiteral("[download] finished:")), 2);
    if (!notifications.isRegistered())
        return; // no session bus to stand in for the notification service
    ASSERT_TRUE(waitUntil([&] { return notifications.notices.size() == 1; }));
    const NotificationCatcher::Notice notice = notifications.notices.first();
    EXPECT_EQ(notice.summary, QStringLiteral("Vorlik download failed"));
    EXPECT_FALSE(notice.body.isEmpty());
    EXPECT_TRUE(m_log->contains(QStringLiteral("[download] failed: ") + notice.body));
    EXPECT_TRUE(notice.hints.value(QStringLiteral("x-vorlik-identifier")).toString().startsWith(QStringLiteral("vorlik-download-")));
}

TEST_F(WebTabHost, aPageThatNeverArrivesIsStoppedAfterTheLoadLimitAndAMissingOneIsShown)
{
    web::WebTabView &tab = openCorrection();
    const QUrl gone = httpUrl(QStringLiteral("/pages/gone"));
    navigate(tab, gone);
    EXPECT_TRUE(m_log->contains(QStringLiteral("[web] navigation error 404 for ") + gone.toString(QUrl::FullyEncoded)));
    EXPECT_EQ(evaluate(tab, QStringLiteral("document.querySelector('h1').textContent")).toString(), QStringLiteral("This page is gone"));
    EXPECT_EQ(m_log->countStartingWith(QStringLiteral("[web] navigation error 404 for ") + httpUrl(QStringLiteral("/correction")).toString()), 0);

    const QUrl slow = httpUrl(QStringLiteral("/pages/plain"));
    QList<QWebEngineLoadingInfo::LoadStatus> ends;
    QObject::connect(tab.page(), &QWebEnginePage::loadingChanged, [&](const QWebEngineLoadingInfo &info) {
        if (info.url() == slow && info.status() != QWebEngineLoadingInfo::LoadStartedStatus)
            ends << info.status();
    });
    // No answer at all, and an answer that stops after its headers and first bytes.
    const QList<QJsonObject> faults{{{"action", "delay"}, {"delay_ms", 5000}},
                                    {{"action", "stall"}, {"status", 200}, {"body", "<html><body><p>partial "}}};
    for (QJsonObject fault : faults) {
        SCOPED_TRACE(fault.value(QStringLiteral("action")).toString().toStdString());
        fault.insert(QStringLiteral("method"), QStringLiteral("GET"));
        fault.insert(QStringLiteral("path"), slow.path());
        http().addFault(fault);
        ends.clear();
        const int timeOuts = m_log->countStartingWith(QStringLiteral("[web] navigation timed out"));
        tab.coordinator()->setPageLoadLimit(std::chrono::milliseconds(400));
        tab.page()->load(slow);
        const QString timedOut = QStringLiteral("[web] navigation timed out after 0.4 s for ") + slow.toString(QUrl::FullyEncoded);
        ASSERT_TRUE(waitUntil([&] { return m_log->countStartingWith(timedOut) > timeOuts; }));
        ASSERT_TRUE(waitUntil([&] { return !ends.isEmpty(); }));
        EXPECT_NE(ends.first(), QWebEngineLoadingInfo::LoadSucceededStatus);
        EXPECT_FALSE(m_log->contains(QStringLiteral("[web] didFinish ") + slow.toString(QUrl::FullyEncoded)));
        // The tab goes on: the next page loads, and a page that loads in time is not stopped.
        tab.coordinator()->setPageLoadLimit(web::Coordinator::pageLoadLimit);
        navigate(tab, httpUrl(QStringLiteral("/correction")));
        EXPECT_EQ(m_log->countStartingWith(QStringLiteral("[web] navigation timed out")), timeOuts + 1);
    }
}

TEST_F(WebTabHost, theMainFrameIsHeardWithItsLogCutButGetsNoPanelsWindowsLocalFilesOrChannelAndFramesAreNotHeard)
{
    const QString local = scratch(QStringLiteral("secret.txt"));
    writeFile(local, "local secret");
    web::WebTabView &tab = openCorrection();
    evaluate(tab, QStringLiteral("window.probe = {};"
                                 "var s = document.createElement('script'); s.src = 'qrc:///qtwebchannel/qwebchannel.js';"
                                 "s.onload = function () { probe.qrc = 'loaded'; }; s.onerror = function () { probe.qrc = 'blocked'; };"
                                 "document.head.appendChild(s);"
                                 "fetch('qrc:///qtwebchannel/qwebchannel.js').then(function () { probe.qrcFetch = 'loaded'; }, function () { probe.qrcFetch = 'blocked'; });"
                                 "fetch('%1').then(function () { probe.file = 'loaded'; }, function () { probe.file = 'blocked'; }); 1")
                      .arg(QUrl::fromLocalFile(local).toString()));
    ASSERT_TRUE(waitForPage(tab, QStringLiteral("probe.qrc && probe.qrcFetch && probe.file")));
    EXPECT_EQ(evaluate(tab, QStringLiteral("[probe.qrc, probe.qrcFetch, probe.file].join(' ')")).toString(), QStringLiteral("blocked blocked blocked"));
    EXPECT_EQ(evaluate(tab, QStringLiteral("typeof qt")).toString(), QStringLiteral("undefined")); // no native channel
    // An alert goes on, confirm says no, prompt gives nothing, and no window opens.
    EXPECT_EQ(evaluate(tab, QStringLiteral("[(alert('x'), 'went on'), confirm('sure?'), prompt('name?', 'me'), window.open('/correction')]"
                                           ".map(function (v) { return v == null ? 'none' : String(v); }).join(' ')")).toString(), QStringLiteral("went on false none none"));

    evaluate(tab, QStringLiteral("window.webkit.messageHandlers.vorlikLog.postMessage('hello from the page'); 1"));
    EXPECT_TRUE(m_log->waitFor(QStringLiteral("[page] hello from the page")));
    evaluate(tab, QStringLiteral("window.webkit.messageHandlers.vorlikLog.postMessage({ a: 1, b: [true, null] }); 1"));
    EXPECT_TRUE(m_log->waitFor(QStringLiteral("[page] {\"a\":1,\"b\":[true,null]}")));
    // "[console.error] " is 16 characters: the messages below are 2,048, 2,049 and 5,000 long,
    // and characters are what a reader counts: an emoji is one.
    for (int length : {2048, 2049, 5000})
        evaluate(tab, QStringLiteral("console.error('%1'); 1").arg(QString(length - 16, QLatin1Char('a' + length % 26))));
    const QString head = QStringLiteral("[page] [console.error] ");
    ASSERT_TRUE(waitUntil([&] { return m_log->countStartingWith(head) == 3; }));
    const QStringList logged = m_log->lines().filter(head);
    EXPECT_EQ(logged.at(0), head + QString(2048 - 16, QLatin1Char('a' + 2048 % 26)));
    EXPECT_EQ(logged.at(1), logged.at(1).left(7 + 2048) + QStringLiteral("…"));
    EXPECT_EQ(logged.at(2).size(), 7 + 2049);
    EXPECT_TRUE(logged.at(2).endsWith(QStringLiteral("…")));
    evaluate(tab, QStringLiteral("console.warn('x'.repeat(2031) + '👍'); 1"));
    ASSERT_TRUE(m_log->waitFor(QStringLiteral("[page] [console.warn] ") + QString(2031, QLatin1Char('x')) + QStringLiteral("👍")));
    evaluate(tab, QStringLiteral("setTimeout(function () { undefinedFunction(); }, 0); 1"));
    EXPECT_TRUE(waitUntil([&] { return m_log->countStartingWith(QStringLiteral("[page] [window.onerror] ")) == 1; }));
    EXPECT_EQ(m_log->countStartingWith(QStringLiteral("[web] rejected native message")), 0);

    // Frames inside the page are rejected whatever their origin: the same origin, and the
    // service's own host (approved, but another origin).
    for (const QUrl &frame : {httpUrl(QStringLiteral("/pages/frame")), ownUrl(QStringLiteral("/pages/frame"))}) {
        embedFrame(tab, frame);
        for (const char *name : {"vorlikLog", "vorlikSession"})
            EXPECT_TRUE(m_log->waitFor(QStringLiteral("[web] rejected native message '%1' from %2 main=false")
                                           .arg(QLatin1String(name), web::SecurityOrigin::fromUrl(frame).description())));
    }
    EXPECT_EQ(m_log->countStartingWith(QStringLiteral("[page] message from an embedded frame")), 0);
    EXPECT_FALSE(m_store->session().has_value());
    EXPECT_EQ(m_store->state(), service::ConnectionState::disconnected());
    // A frame from another site is not even loaded.
    const int rejected = m_log->countStartingWith(QStringLiteral("[web] rejected native message"));
    const qsizetype requested = requestsFor(QStringLiteral("/pages/frame")).size();
    QUrl foreign = httpUrl(QStringLiteral("/pages/frame"));
    foreign.setHost(QStringLiteral("localhost"));
    embedFrame(tab, foreign);
    EXPECT_TRUE(m_log->waitFor(QStringLiteral("[web] blocked navigation (-1) to ") + foreign.toString(QUrl::FullyEncoded)));
    QTest::qWait(300);
    EXPECT_EQ(m_log->countStartingWith(QStringLiteral("[web] rejected native message")), rejected);
    EXPECT_EQ(requestsFor(QStringLiteral("/pages/frame")).size(), requested) << "the service saw a request for it";
}

TEST_F(WebTabHost, aPageOfAnotherOriginInTheMainFrameIsRejected)
{
    const QString path = scratch(QStringLiteral("foreign.html"));
    writeFile(path, "<!doctype html><title>foreign</title><script>console.error('from a local page');"
                    "window.webkit.messageHandlers.vorlikSession.postMessage('{\"access_token\":\"x\",\"refresh_token\":\"y\"}');</script>");
    platform::Settings::standard().setOverride(QStringLiteral("openURL"), QUrl::fromLocalFile(path).toString());
    openTab(web::WebTabView::correctionURL(), true, QUrl::fromLocalFile(path));
    for (const char *name : {"vorlikLog", "vorlikSession"})
        EXPECT_TRUE(m_log->waitFor(QStringLiteral("[web] rejected native message '%1' from file:// main=true").arg(QLatin1String(name))));
    EXPECT_EQ(m_log->countStartingWith(QStringLiteral("[page] ")), 0);
    EXPECT_FALSE(m_store->session().has_value());
}

TEST_F(WebTabHost, signingInNativelyWritesTheRecordIntoThePagesOnceAndSigningOutRemovesIt)
{
    web::WebTabView &tab = openCorrection();
    EXPECT_TRUE(record(tab).isEmpty());
    EXPECT_FALSE(tab.coordinator()->lastInjectedToken().has_value()); // nothing to remove: nothing ran
    // The Cinema page lives on the service's own host, not on the base URL's origin: its own
    // sign-in is never taken over, but it gets the application's session.
    web::WebTabView &cinema = openCinema();
    evaluate(cinema, QStringLiteral("document.getElementById('apiKey').value = '%1'; document.getElementById('connect').click(); 1")
                         .arg(https().demoKey()));
    ASSERT_TRUE(waitForPage(cinema, QStringLiteral("localStorage.getItem('vorlik_session') !== null")));
    QTest::qWait(500);
    EXPECT_EQ(m_store->state(), service::ConnectionState::disconnected());
    EXPECT_EQ(m_log->countStartingWith(QStringLiteral("[session] adopting web session")), 0);

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
    ASSERT_TRUE(waitForPage(cinema, QStringLiteral("vorlikPage.sessionEvents.length === 1")));
    EXPECT_EQ(record(cinema).value(QStringLiteral("access_token")).toString(), session.accessToken);

    // The page's watcher reports the application's own write; the store stays as it was; the
    // second push after the load and later view updates write nothing again.
    tab.setActive(true);
    QTest::qWait(2500);
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
    QTest::qWait(500);
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

TEST_F(WebTabHost, signingInInsideThePageSignsTheApplicationInAgainAtEveryStartAndSigningOutThereSignsItOut)
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
    QTest::qWait(300);
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

} // namespace
