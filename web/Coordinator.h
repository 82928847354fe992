#pragma once
// The delegate of one web tab (main thread only). It decides which navigations the tab makes and
// which it hands to the desktop's browser, saves the page's downloads, accepts the page's native
// messages only from the main frame of an approved origin, keeps the page's session record and
// the application's session in step (the session bridge), and delivers native file drops into
// the page (drop routing).
//
// Implementation: Coordinator.cpp (pages, navigation, messages, page load), CoordinatorSession.cpp
// (session bridge), CoordinatorDrop.cpp (drop routing), CoordinatorDownloads.cpp (downloads).
#include "service/SessionStore.h"
#include "web/NativeMessage.h"
#include "web/SecurityOrigin.h"
#include "web/VorlikWebPage.h"
#include "web/VorlikWebView.h"

#include <QCoroTask>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QPointF>
#include <QUrl>
#include <QWebEnginePage>

#include <chrono>
#include <deque>
#include <optional>

class QTimer;
class QWebEngineDownloadRequest;
class QWebEngineLoadingInfo;
class QWebEngineNewWindowRequest;
class QWebEngineProfile;

namespace vorlik::web {

class NativeMessageChannel;

class Coordinator : public QObject {
    Q_OBJECT
public:
    static constexpr int dropFileLimit = 2000;
    static constexpr qint64 bridgeByteLimit = 262144000; // 250 MiB
    static constexpr std::chrono::milliseconds panelWindow{10000};
    static constexpr std::chrono::milliseconds retryInterval{1500};
    static constexpr std::chrono::milliseconds clickDelay{250};
    static constexpr std::chrono::milliseconds clickStepDelay{120};
    static constexpr std::chrono::milliseconds secondPushDelay{2000};
    static constexpr std::chrono::milliseconds queueProbeInterval{1000};
    static constexpr int queueProbeLimit = 120;
    static constexpr int pageLogLimit = 2048;
    static constexpr int bridgePartsInFlight = 3;
    static constexpr std::chrono::milliseconds pageLoadLimit{60000}; // the page request's time-out

    Coordinator(bool isCorrection, service::SessionStore *store, QObject *parent = nullptr);
    ~Coordinator() override;

    // Installs the message channels and user scripts into the page and follows the page, its
    // downloads and the store. Call once, before the page loads anything.
    void attach(VorlikWebView &view, VorlikWebPage &page, QWebEngineProfile &profile);

    bool isCorrection() const { return m_isCorrection; }
    service::SessionStore *store() const { return m_store; }
    VorlikWebView *webView() const { return m_view; }

    // Pages and frame origins the tab trusts: the service base URL's origin, the service's own
    // host over https, and (pages only) local files.
    static bool isApprovedPage(const QUrl &url);
    static bool isApprovedSecurityOrigin(const SecurityOrigin &origin);
    // The service base URL's origin as pages write location.origin ("https://host[:port]").
    static QString expectedOrigin();
    // The navigation type numbers of the log lines: form submission 1, back/forward 2, reload 3,
    // a link the user clicked 0, anything else -1.
    static int navigationTypeNumber(QWebEnginePage::NavigationType type, bool userClickedLink);

    // Navigation and page load.
    bool decidePolicy(const QUrl &url, QWebEnginePage::NavigationType type, bool isMainFrame);
    void didStartProvisionalNavigation();
    void didFinish();
    // The page asks for files.
    QStringList runOpenPanel(VorlikWebPage &page, QWebEnginePage::FileSelectionMode mode, const QStringList &oldFiles,
                             const QStringList &acceptedMimeTypes);
    // A message from the page's native channels.
    void didReceive(const NativeMessage &message);

    // Session bridge.
    void pushNativeSession(VorlikWebView *view);
    void adopt(const QVariant &payload);
    void injectWebConnectKeyIfNeeded(VorlikWebView *view);
    const std::optional<QString> &lastInjectedToken() const { return m_lastInjectedToken; }
    bool didInjectWebConnectKey() const { return m_didInjectWebConnectKey; }

    // Drop routing.
    QCoro::Task<void> handleDroppedFiles(QList<QUrl> urls, QPointF dropPoint, QPointer<VorlikWebView> view);
    QCoro::Task<void> clickPagePoint(double x, double y, QString target, QPointer<VorlikWebView> view);
    void armPanelRetry();
    // Hands the pending files to the page's inject functions, after the drops handed over before.
    void injectViaBridge();
    // Delivers files one at a time; "HANDLE bridge injected N file(s)" counts those the page took
    // whole.
    QCoro::Task<void> encodeAndInject(QList<QUrl> files, QString target, int index, QPointer<VorlikWebView> view);
    bool bridgeFits(const QList<QUrl> &files) const;
    static bool bridgeFits(const QList<QUrl> &files, qint64 limit);
    static QList<QUrl> expandToFiles(const QList<QUrl> &urls, int limit);
    void injectSimulatedDropIfNeeded(VorlikWebView *view);
    void printDropAreaCenter(VorlikWebView *view);
    void startQueueProbe(VorlikWebView *view);
    void injectPickerClickIfNeeded(VorlikWebView *view);

    const std::optional<QList<QUrl>> &pendingDroppedFiles() const { return m_pendingDroppedFiles; }
    int retryCount() const { return m_retryCount; }
    bool isRetryArmed() const;
    // The bridge's size limit; benchmarks lower it to time the click path on the same file.
    void setBridgeLimit(qint64 bytes) { m_bridgeLimit = bytes; }
    // How long a page load may take until the page has arrived before it is stopped (pageLoadLimit);
    // tests shorten it.
    void setPageLoadLimit(std::chrono::milliseconds limit) { m_loadLimit = limit; }

    // The drop routing's console lines go to standard output.
    static void printConsole(const QString &line);

private:
    struct ClickPoint {
        double x = 0;
        double y = 0;
        QString target;
    };
    struct BridgeDelivery {
        QList<QUrl> files;
        QString target;
        QPointer<VorlikWebView> view;
    };
    struct LinkActivation {
        QUrl url;
        std::chrono::steady_clock::time_point at;
    };

    void handleLoadingChanged(const QWebEngineLoadingInfo &info);
    void loadTimedOut();
    void handleNewWindowRequest(QWebEngineNewWindowRequest &request);
    void rememberLinkActivation(const QUrl &url);
    bool takeLinkActivation(const QUrl &url);

    void handleDownload(QWebEngineDownloadRequest *download);
    void downloadFailed(const QString &description, const QStringList &files);

    QCoro::Task<void> readPageSession(QPointer<VorlikWebView> view);
    QCoro::Task<void> runPush(QPointer<VorlikWebView> view, std::optional<QString> payload, QString script);

    void clearPendingDrop();
    void cancelPendingRetry();
    QCoro::Task<void> retryClick();
    QCoro::Task<void> runBridgeQueue();

    static bool boolSetting(const char *key);
    static QString stringSetting(const char *key);

    bool m_isCorrection;
    QPointer<service::SessionStore> m_store;
    QPointer<VorlikWebView> m_view;
    QPointer<VorlikWebPage> m_page;
    NativeMessageChannel *m_channel = nullptr;
    std::optional<LinkActivation> m_lastLinkActivation;
    std::chrono::milliseconds m_loadLimit = pageLoadLimit;
    QTimer *m_loadTimer = nullptr; // runs until the page load ends
    QUrl m_loadingURL;

    // Session bridge.
    std::optional<QString> m_lastInjectedToken;
    bool m_didInjectWebConnectKey = false;
    int m_pushesInFlight = 0;
    std::optional<QString> m_latestPushPayload; // what the page holds once the running pushes end

    // Drop routing.
    bool m_didInjectPickerClick = false;
    bool m_didInjectSimulatedDrop = false;
    std::optional<QList<QUrl>> m_pendingDroppedFiles;
    QPointer<VorlikWebView> m_pendingDropWebView;
    std::optional<QUrl> m_pendingDropPageURL;
    std::chrono::steady_clock::time_point m_pendingDropTimestamp;
    quint64 m_drops = 0;            // drops handled so far
    quint64 m_pendingDropNumber = 0; // which of them m_pendingDroppedFiles holds
    std::deque<BridgeDelivery> m_bridgeQueue;
    bool m_bridgeRunning = false;
    QTimer *m_pendingRetry = nullptr; // armed while active
    int m_retryCount = 0;
    QPointer<VorlikWebView> m_lastClickWebView;
    std::optional<ClickPoint> m_lastClickPoint;
    qint64 m_bridgeLimit = bridgeByteLimit;
    QTimer *m_queueProbe = nullptr;
    int m_queueProbeTicks = 0;
};

} // namespace vorlik::web
