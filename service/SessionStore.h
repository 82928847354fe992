#pragma once
// The one owner of the connection to the service: turns a client key into a session, checks it
// by fetching the preset list, keeps the current presets, refreshes the access token once when
// a call is rejected, disconnects, takes over (or drops) the session of the service's web page,
// and holds the queue of usage reports the service has not accepted yet.
//
// Confined to the main thread. The coroutines suspend there while a request is in flight and
// resume there; every resume re-reads what may have changed meanwhile. `generation` grows with
// every disconnect: a result that arrives after a disconnect is dropped. A result is also dropped
// when another connect or a page session replaced the session it belongs to, so the state shown
// and the session held always belong together. Each coroutine holds the store weakly: destroying
// the store while one is suspended ends it quietly.
#include "service/ConnectionState.h"
#include "service/PendingUsage.h"
#include "service/Preset.h"
#include "service/Session.h"
#include "service/SharedOutcome.h"

#include <QCoroTask>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QVariant>

#include <memory>
#include <optional>

namespace vorlik::service {

class SessionStore : public QObject {
    Q_OBJECT
    Q_PROPERTY(vorlik::service::ConnectionState state READ state NOTIFY stateChanged)
    Q_PROPERTY(QList<vorlik::service::Preset> presets READ presets NOTIFY presetsChanged)
    Q_PROPERTY(bool scriptsUnavailable READ scriptsUnavailable NOTIFY scriptsUnavailableChanged)
    Q_PROPERTY(int pendingUsageCount READ pendingUsageCount NOTIFY pendingUsageCountChanged)

public:
    explicit SessionStore(QObject *parent = nullptr);
    ~SessionStore() override;

    ConnectionState state() const { return m_state; }
    const QList<Preset> &presets() const { return m_presets; }
    // The Convert page's "Refresh scripts" replaces the list.
    void setPresets(QList<Preset> presets);
    bool scriptsUnavailable() const { return m_scriptsUnavailable; }
    int pendingUsageCount() const { return int(m_pendingUsage.size()); }
    const std::optional<Session> &session() const { return m_session; }
    qint64 generation() const { return m_generation; }
    // Grows whenever the session is replaced by another one or cleared; a refresh keeps it. With
    // generation(), what a late answer checks to see that it still belongs to the session held.
    quint64 sessionEpoch() const { return m_sessionEpoch; }
    const QList<PendingUsage> &pendingUsage() const { return m_pendingUsage; }
    // A refresh is running (callers of refreshSession share it).
    bool isRefreshing() const { return m_refreshTask != nullptr; }

    // Exchanges the key for a session and checks it; the outcome is in state(). A connect that
    // reaches `connected` then sends the queued usage reports once.
    QCoro::Task<void> connect(QString apiKey);
    // Forgets the session at once; calls nothing on the service.
    void disconnect();
    // True when a usable session exists afterwards. One refresh at a time: concurrent callers
    // wait for the same request and get the same answer (a refresh of a session that another
    // connect or the page replaced meanwhile is not joined).
    QCoro::Task<bool> refreshSession();

    // A message the service's web page posted about its session record (its untyped body).
    QCoro::Task<void> handleWebUpdate(QVariant body);
    // Takes over the page's session record (or drops ours when the record does not parse).
    QCoro::Task<void> adoptWebSession(QString raw);
    // The page's session record as a Session with an empty sessionId, or none.
    static std::optional<Session> parseWebSession(const QString &raw);
    // The page's session record for the current session (no "session_id"), or none.
    std::optional<QString> webSessionPayload() const;

    // Reports one finished conversion. True when the service accepted it (now or after one
    // refresh); false when it was queued for the next connect.
    QCoro::Task<bool> reportUsage(QString token, QString processKey, qint64 fileCount, qint64 inputBytes,
                                  QString filename);
    // Sends the queued reports once, each with its own token. Reports queued while it runs
    // stay queued; a report another pass is already sending is left to that pass.
    QCoro::Task<void> retryPendingUsage();

signals:
    void stateChanged();
    void presetsChanged();
    void scriptsUnavailableChanged();
    void pendingUsageCountChanged();
    void sessionChanged();

private:
    struct Verification {
        enum class Case { rejected, unavailable, ok };
        Case kind = Case::unavailable;
        QList<Preset> presets;
    };

    static QCoro::Task<Verification> verify(QString token);
    static QCoro::Task<void> runRefresh(QPointer<SessionStore> store, qint64 generation, quint64 sessionEpoch,
                                        QString refreshToken, std::shared_ptr<SharedOutcome<bool>> outcome);
    bool applyRefreshed(const Session &fresh, qint64 generation, quint64 sessionEpoch);
    bool applyRefreshFailure(qint64 generation, quint64 sessionEpoch);
    void applyVerification(const Verification &verification, const QString &clientId);

    void queueUsage(const PendingUsage &item);
    void setState(const ConnectionState &state);
    void setScriptsUnavailable(bool unavailable);
    // A session of its own (connect, page) or none: starts a new session epoch.
    void replaceSession(std::optional<Session> session);
    void setPendingUsage(QList<PendingUsage> queue);

    ConnectionState m_state;
    QList<Preset> m_presets;
    bool m_scriptsUnavailable = false;
    std::optional<Session> m_session;
    qint64 m_generation = 0;
    // Grows whenever the session is replaced by another one or cleared; a refresh keeps it.
    quint64 m_sessionEpoch = 0;
    int m_connectsInFlight = 0;
    std::shared_ptr<SharedOutcome<bool>> m_refreshTask;
    quint64 m_refreshEpoch = 0; // the session epoch m_refreshTask refreshes
    QList<PendingUsage> m_pendingUsage;
    QList<PendingUsage> m_usageInFlight; // taken by a running retry pass
};

} // namespace vorlik::service
