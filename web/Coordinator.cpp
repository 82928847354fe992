#include "web/Coordinator.h"

#include "convert/Graphemes.h"
#include "diagnostics/DiagnosticsLogger.h"
#include "platform/ServiceConfig.h"
#include "platform/Settings.h"
#include "service/APIClient.h"
#include "service/SessionStore.h"
#include "web/InjectedScripts.h"
#include "web/NativeMessageChannel.h"
#include "web/VorlikWebPage.h"
#include "web/VorlikWebView.h"

#include <QDesktopServices>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QTimer>
#include <QWebEngineLoadingInfo>
#include <QWebEngineNewWindowRequest>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>

#include <cstdio>

namespace vorlik::web {

namespace {

void log(const QString &category, const QString &message)
{
    diagnostics::DiagnosticsLogger::shared().log(category, message);
}

QWebEngineScript userScript(const QString &name, const QString &source, QWebEngineScript::InjectionPoint point)
{
    QWebEngineScript script;
    script.setName(name);
    script.setSourceCode(source);
    script.setInjectionPoint(point);
    script.setWorldId(QWebEngineScript::MainWorld);
    script.setRunsOnSubFrames(false);
    return script;
}

// How a page's log message reads in the log: texts as they are, anything else as JSON.
QString messageText(const QVariant &body)
{
    if (body.typeId() == QMetaType::QString)
        return body.toString();
    const QJsonValue value = QJsonValue::fromVariant(body);
    if (value.isObject())
        return QString::fromUtf8(QJsonDocument(value.toObject()).toJson(QJsonDocument::Compact));
    if (value.isArray())
        return QString::fromUtf8(QJsonDocument(value.toArray()).toJson(QJsonDocument::Compact));
    if (value.isBool())
        return value.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    if (value.isDouble())
        return QString::number(value.toDouble(), 'g', 17);
    return QStringLiteral("null");
}

// A user's link click and the navigation it starts arrive close together; an older one is stale.
constexpr std::chrono::seconds linkActivationLifetime{5};

} // namespace

Coordinator::Coordinator(bool isCorrection, service::SessionStore *store, QObject *parent)
    : QObject(parent), m_isCorrection(isCorrection), m_store(store), m_loadTimer(new QTimer(this)),
      m_pendingRetry(new QTimer(this)), m_queueProbe(new QTimer(this))
{
    m_loadTimer->setSingleShot(true);
    connect(m_loadTimer, &QTimer::timeout, this, &Coordinator::loadTimedOut);
    m_pendingRetry->setSingleShot(true);
    connect(m_pendingRetry, &QTimer::timeout, this, [this] { retryClick(); });
    m_queueProbe->setInterval(queueProbeInterval);
}

Coordinator::~Coordinator() = default;

void Coordinator::attach(VorlikWebView &view, VorlikWebPage &page, QWebEngineProfile &profile)
{
    m_view = &view;
    m_page = &page;

    // The handlers come first, so that the start scripts find them.
    m_channel = new NativeMessageChannel(page, {QStringLiteral("vorlikSession"), QStringLiteral("vorlikLog")}, this);
    connect(m_channel, &NativeMessageChannel::received, this, &Coordinator::didReceive);
    connect(m_channel, &NativeMessageChannel::linkActivated, this, &Coordinator::rememberLinkActivation);

    page.scripts().insert(userScript(QStringLiteral("vorlik-embed-style"), InjectedScripts::embedStyle(),
                                     QWebEngineScript::DocumentReady));
    page.scripts().insert(userScript(QStringLiteral("vorlik-console-forwarding"), InjectedScripts::consoleForwarding(),
                                     QWebEngineScript::DocumentCreation));
    page.scripts().insert(userScript(QStringLiteral("vorlik-session-watcher"),
                                     InjectedScripts::sessionWatcher(expectedOrigin()),
                                     QWebEngineScript::DocumentCreation));

    connect(&page, &QWebEnginePage::loadingChanged, this, &Coordinator::handleLoadingChanged);
    connect(&page, &QWebEnginePage::newWindowRequested, this, &Coordinator::handleNewWindowRequest);
    connect(&profile, &QWebEngineProfile::downloadRequested, this, &Coordinator::handleDownload);
    if (m_store) {
        // A change of the application's session updates the page, as a view update would.
        const auto push = [this] { pushNativeSession(m_view); };
        connect(m_store, &service::SessionStore::sessionChanged, this, push);
        connect(m_store, &service::SessionStore::stateChanged, this, push);
    }
}

bool Coordinator::isApprovedPage(const QUrl &url)
{
    const QUrl base = service::APIClient::baseURL();
    if (!url.host().isEmpty() && !base.host().isEmpty() && url.host() == base.host() && url.scheme() == base.scheme()
        && url.port() == base.port())
        return true;
    if (url.host() == platform::ServiceConfig::current().host && url.scheme() == QLatin1String("https"))
        return true;
    return url.isLocalFile();
}

bool Coordinator::isApprovedSecurityOrigin(const SecurityOrigin &origin)
{
    const QUrl base = service::APIClient::baseURL();
    const int basePort = base.port() < 0 ? 0 : base.port();
    if (!base.host().isEmpty() && base.host() == origin.host && origin.port == basePort && !base.scheme().isEmpty()
        && base.scheme() == origin.protocol)
        return true;
    return !origin.host.isEmpty() && origin.host == platform::ServiceConfig::current().host
        && origin.protocol == QLatin1String("https");
}

QString Coordinator::expectedOrigin()
{
    const QUrl base = service::APIClient::baseURL();
    QString origin = (base.scheme().isEmpty() ? QStringLiteral("https") : base.scheme()) + QStringLiteral("://") + base.host();
    if (base.port() >= 0)
        origin += QLatin1Char(':') + QString::number(base.port());
    return origin;
}

int Coordinator::navigationTypeNumber(QWebEnginePage::NavigationType type, bool userClickedLink)
{
    switch (type) {
    case QWebEnginePage::NavigationTypeLinkClicked:
        // The engine also files navigations made by scripts as link clicks.
        return userClickedLink ? 0 : -1;
    case QWebEnginePage::NavigationTypeFormSubmitted:
        return 1;
    case QWebEnginePage::NavigationTypeBackForward:
        return 2;
    case QWebEnginePage::NavigationTypeReload:
        return 3;
    case QWebEnginePage::NavigationTypeTyped:
    case QWebEnginePage::NavigationTypeOther:
    case QWebEnginePage::NavigationTypeRedirect:
        return -1;
    }
    return -1;
}

bool Coordinator::decidePolicy(const QUrl &url, QWebEnginePage::NavigationType type, bool isMainFrame)
{
    if (url.isEmpty() || isApprovedPage(url)) {
        // A redirect, or a navigation that takes over from a load still waiting, is a new
        // request: its own time limit starts.
        if (isMainFrame && m_loadTimer->isActive()) {
            m_loadingURL = url;
            m_loadTimer->start(m_loadLimit);
        }
        return true;
    }
    const bool userClickedLink = type == QWebEnginePage::NavigationTypeLinkClicked && takeLinkActivation(url);
    if (userClickedLink)
        QDesktopServices::openUrl(url);
    else
        log(QStringLiteral("web"), QStringLiteral("blocked navigation (%1) to %2")
                                       .arg(navigationTypeNumber(type, false))
                                       .arg(url.toString(QUrl::FullyEncoded)));
    return false;
}

void Coordinator::handleNewWindowRequest(QWebEngineNewWindowRequest &request)
{
    // Pages open no windows; a link to another site still goes to the desktop's browser.
    const QUrl url = request.requestedUrl();
    if (url.isEmpty() || isApprovedPage(url))
        return;
    if (request.isUserInitiated())
        QDesktopServices::openUrl(url);
    else
        log(QStringLiteral("web"), QStringLiteral("blocked navigation (-1) to %1").arg(url.toString(QUrl::FullyEncoded)));
}

void Coordinator::rememberLinkActivation(const QUrl &url)
{
    m_lastLinkActivation = LinkActivation{url, std::chrono::steady_clock::now()};
}

bool Coordinator::takeLinkActivation(const QUrl &url)
{
    if (!m_lastLinkActivation)
        return false;
    const bool matches = m_lastLinkActivation->url.adjusted(QUrl::RemoveFragment) == url.adjusted(QUrl::RemoveFragment)
        && std::chrono::steady_clock::now() - m_lastLinkActivation->at < linkActivationLifetime;
    if (matches)
        m_lastLinkActivation.reset();
    return matches;
}

void Coordinator::handleLoadingChanged(const QWebEngineLoadingInfo &info)
{
    if (info.status() == QWebEngineLoadingInfo::LoadStartedStatus) {
        m_loadingURL = info.url();
        m_loadTimer->start(m_loadLimit);
        didStartProvisionalNavigation();
        return;
    }
    m_loadTimer->stop();
    if (info.errorDomain() == QWebEngineLoadingInfo::HttpStatusCodeDomain && info.errorCode() >= 400) {
        const QUrl current = m_page ? m_page->url() : QUrl();
        log(QStringLiteral("web"), QStringLiteral("navigation error %1 for %2")
                                       .arg(info.errorCode())
                                       .arg(current.isEmpty() ? QStringLiteral("?") : current.toString(QUrl::FullyEncoded)));
    }
    // An error status with a page of the server's own still shows that page: its load ended.
    if (info.status() == QWebEngineLoadingInfo::LoadSucceededStatus
        || (info.status() == QWebEngineLoadingInfo::LoadFailedStatus
            && info.errorDomain() == QWebEngineLoadingInfo::HttpStatusCodeDomain && !info.isErrorPage()))
        didFinish();
}

void Coordinator::loadTimedOut()
{
    // A service that never answers, or whose answer stops half-way, would leave the tab loading
    // for good: stop the load, which then ends as failed, with the page shown before it (or
    // none, or the part that arrived) still in the view. The limit runs until the load ends:
    // the engine reports progress as soon as the headers arrive, long before the page has.
    log(QStringLiteral("web"), QStringLiteral("navigation timed out after %1 s for %2")
                                   .arg(QString::number(double(m_loadLimit.count()) / 1000.0))
                                   .arg(m_loadingURL.isEmpty() ? QStringLiteral("?") : m_loadingURL.toString(QUrl::FullyEncoded)));
    if (m_page)
        m_page->triggerAction(QWebEnginePage::Stop);
}

void Coordinator::didStartProvisionalNavigation()
{
    if (!m_pendingDroppedFiles)
        return;
    log(QStringLiteral("drop"), QStringLiteral("navigation invalidated pending drop"));
    clearPendingDrop();
    cancelPendingRetry();
}

void Coordinator::didFinish()
{
    const QUrl url = m_page ? m_page->url() : QUrl();
    log(QStringLiteral("web"), QStringLiteral("didFinish ") + (url.isEmpty() ? QStringLiteral("?") : url.toString(QUrl::FullyEncoded)));

    QPointer<VorlikWebView> view = m_view;
    if (!url.isEmpty() && isApprovedPage(url))
        readPageSession(view);
    injectWebConnectKeyIfNeeded(view);
    pushNativeSession(view);

    injectSimulatedDropIfNeeded(view);
    if (boolSetting("dropAreaDebug"))
        printDropAreaCenter(view);
    if (boolSetting("queueProbe"))
        startQueueProbe(view);
    injectPickerClickIfNeeded(view);

    QTimer::singleShot(secondPushDelay, this, [this, view] { pushNativeSession(view); });
}

void Coordinator::didReceive(const NativeMessage &message)
{
    const bool pageApproved = m_page && isApprovedSecurityOrigin(SecurityOrigin::fromUrl(m_page->url()));
    if (!message.isMainFrame || !isApprovedSecurityOrigin(message.origin) || !pageApproved) {
        log(QStringLiteral("web"), QStringLiteral("rejected native message '%1' from %2 main=%3")
                                       .arg(message.name, message.origin.description(),
                                            message.isMainFrame ? QStringLiteral("true") : QStringLiteral("false")));
        return;
    }
    if (message.name == QLatin1String("vorlikLog")) {
        QString text = messageText(message.body);
        const QString kept = convert::Graphemes::prefix(text, pageLogLimit);
        if (kept.size() < text.size())
            text = kept + QStringLiteral("…");
        log(QStringLiteral("page"), text);
    } else if (message.name == QLatin1String("vorlikSession")) {
        adopt(message.body);
    }
}

bool Coordinator::boolSetting(const char *key)
{
    return platform::Settings::standard().boolean(QString::fromLatin1(key));
}

QString Coordinator::stringSetting(const char *key)
{
    return platform::Settings::standard().string(QString::fromLatin1(key));
}

void Coordinator::printConsole(const QString &line)
{
    const QByteArray bytes = line.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fflush(stdout);
}

} // namespace vorlik::web
