// The session bridge: the application's session written into the page's local storage, and the
// page's sign-in and sign-out reported to the SessionStore.
#include "web/Coordinator.h"

#include "diagnostics/DiagnosticsLogger.h"
#include "platform/Settings.h"
#include "service/SessionStore.h"
#include "web/InjectedScripts.h"
#include "web/PageScript.h"
#include "web/VorlikWebPage.h"
#include "web/VorlikWebView.h"

namespace vorlik::web {

namespace {

QCoro::Task<void> handOver(QPointer<service::SessionStore> store, QVariant payload)
{
    if (store)
        co_await store->handleWebUpdate(std::move(payload));
}

} // namespace

void Coordinator::pushNativeSession(VorlikWebView *view)
{
    if (!m_store || !view || !view->page())
        return;
    const QUrl url = view->page()->url();
    if (url.isEmpty() || !isApprovedPage(url))
        return;

    const std::optional<QString> payload = m_store->webSessionPayload();
    // While pushes are running, the page is about to hold what the latest of them writes.
    const std::optional<QString> &held = m_pushesInFlight > 0 ? m_latestPushPayload : m_lastInjectedToken;
    if (payload && payload == held)
        return;
    if (!payload && !held)
        return;

    ++m_pushesInFlight;
    m_latestPushPayload = payload;
    runPush(view, payload, payload ? InjectedScripts::pushSession(*payload) : InjectedScripts::removeSession());
}

QCoro::Task<void> Coordinator::runPush(QPointer<VorlikWebView> view, std::optional<QString> payload, QString script)
{
    QPointer<Coordinator> self(this);
    QPointer<QWebEnginePage> page = view ? view->page() : nullptr;
    const ScriptOutcome outcome = co_await PageScript::run(page, script);
    if (!self)
        co_return;
    --m_pushesInFlight;
    // Both scripts end with the event's dispatch, which yields true; anything else means the
    // record was not written (the page went away, or storage refused it).
    if (!outcome.error && outcome.value.typeId() == QMetaType::Bool && outcome.value.toBool()) {
        m_lastInjectedToken = payload;
        co_return;
    }
    const QString description = outcome.error.value_or(QStringLiteral("the page did not take the session record"));
    diagnostics::DiagnosticsLogger::shared().log(QStringLiteral("web"), QStringLiteral("session injection failed: ") + description);
}

QCoro::Task<void> Coordinator::readPageSession(QPointer<VorlikWebView> view)
{
    QPointer<Coordinator> self(this);
    QPointer<QWebEnginePage> page = view ? view->page() : nullptr;
    const ScriptOutcome outcome = co_await PageScript::run(page, InjectedScripts::readSession());
    if (!self || !m_store || outcome.error || outcome.value.typeId() != QMetaType::QString)
        co_return;
    adopt(outcome.value);
}

void Coordinator::adopt(const QVariant &payload)
{
    if (m_store)
        handOver(m_store, payload);
}

void Coordinator::injectWebConnectKeyIfNeeded(VorlikWebView *view)
{
    if (m_didInjectWebConnectKey)
        return;
    const std::optional<QString> key = platform::Settings::standard().optionalString(QStringLiteral("webConnectKey"));
    if (!key || key->trimmed().isEmpty())
        return;
    m_didInjectWebConnectKey = true;
    if (view && view->page())
        PageScript::start(*view->page(), InjectedScripts::offerConnectKey(InjectedScripts::escapeForSingleQuotes(*key)));
}

} // namespace vorlik::web
