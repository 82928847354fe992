#include "service/SessionStore.h"

#include "diagnostics/DiagnosticsLogger.h"
#include "platform/Failure.h"
#include "service/APIClient.h"
#include "service/APIError.h"
#include "service/JsonFields.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QPointer>

namespace vorlik::service {
namespace {

const QString rejectedMessage = QStringLiteral("The server rejected this session — check your client key.");

void logSession(const QString &message)
{
    diagnostics::DiagnosticsLogger::shared().log(QStringLiteral("session"), message);
}

void logUsage(const QString &message)
{
    diagnostics::DiagnosticsLogger::shared().log(QStringLiteral("usage"), message);
}

// Only spaces and tabs decide whether a key is empty; the key itself is sent as given.
bool isBlankKey(const QString &key)
{
    for (const QChar c : key)
        if (c != QLatin1Char(' ') && c != QLatin1Char('\t'))
            return false;
    return true;
}

QByteArray usageBody(const QString &processKey, qint64 fileCount, qint64 inputBytes, const QString &filename)
{
    return json::ObjectWriter()
        .string(QStringLiteral("process_key"), processKey)
        .integer(QStringLiteral("file_count"), fileCount)
        .integer(QStringLiteral("input_bytes"), inputBytes)
        .string(QStringLiteral("filename"), filename)
        .finish();
}

// One POST of a report with `bearer`: the status, or 0 when the request itself failed.
QCoro::Task<int> sendUsage(PendingUsage report, QString bearer)
{
    try {
        const APIResponse response =
            co_await APIClient::request(QStringLiteral("/v1/usage/convert"), "POST",
                                        usageBody(report.processKey, report.fileCount, report.inputBytes,
                                                  report.filename),
                                        bearer);
        co_return response.status;
    } catch (const std::exception &) {
        // A transport failure is neither accepted nor a rejection of the token.
    }
    co_return 0;
}

QString stringMember(const QJsonObject &object, const QString &key)
{
    const QJsonValue value = object.value(key);
    return value.isString() ? value.toString() : QString();
}

} // namespace

SessionStore::SessionStore(QObject *parent) : QObject(parent) {}

SessionStore::~SessionStore() = default;

void SessionStore::setPresets(QList<Preset> presets)
{
    if (presets == m_presets)
        return;
    m_presets = std::move(presets);
    emit presetsChanged();
}

void SessionStore::setState(const ConnectionState &state)
{
    if (state == m_state)
        return;
    m_state = state;
    emit stateChanged();
}

void SessionStore::setScriptsUnavailable(bool unavailable)
{
    if (unavailable == m_scriptsUnavailable)
        return;
    m_scriptsUnavailable = unavailable;
    emit scriptsUnavailableChanged();
}

void SessionStore::replaceSession(std::optional<Session> session)
{
    ++m_sessionEpoch;
    const bool had = m_session.has_value();
    m_session = std::move(session);
    if (had || m_session)
        emit sessionChanged();
}

void SessionStore::setPendingUsage(QList<PendingUsage> queue)
{
    const qsizetype before = m_pendingUsage.size();
    m_pendingUsage = std::move(queue);
    if (m_pendingUsage.size() != before)
        emit pendingUsageCountChanged();
}

QCoro::Task<SessionStore::Verification> SessionStore::verify(QString token)
{
    try {
        const PresetsPayload payload = co_await APIClient::fetchPresets(token);
        co_return Verification{Verification::Case::ok, payload.presets};
    } catch (const APIError &error) {
        if (error.kind() == APIError::Case::badStatus && (error.status() == 401 || error.status() == 403))
            co_return Verification{Verification::Case::rejected, {}};
    } catch (const std::exception &) {
    }
    co_return Verification{Verification::Case::unavailable, {}};
}

QCoro::Task<void> SessionStore::connect(QString apiKey)
{
    QPointer<SessionStore> self(this);
    logSession(QStringLiteral("connect requested"));
    if (isBlankKey(apiKey)) {
        setState(ConnectionState::failed(QStringLiteral("Enter your client key first.")));
        logSession(QStringLiteral("connect failed: empty key"));
        co_return;
    }
    setState(ConnectionState::connecting());
    const qint64 generation = m_generation;
    ++m_connectsInFlight;

    std::optional<Session> activated;
    QString failure;
    try {
        activated = co_await APIClient::activate(apiKey);
    } catch (const std::exception &error) {
        failure = describe(error);
    }
    if (!self)
        co_return;
    --m_connectsInFlight;
    if (!activated) {
        if (m_generation == generation) {
            setPresets({});
            replaceSession(std::nullopt);
            setState(ConnectionState::failed(failure));
            logSession(QStringLiteral("connect failed: ") + failure);
        }
        co_return;
    }
    if (m_generation != generation)
        co_return; // disconnected meanwhile: the new session is dropped

    const Session session = *activated;
    replaceSession(session);
    const quint64 epoch = m_sessionEpoch;
    logSession(QStringLiteral("activated client=") + session.clientId);

    const Verification verification = co_await verify(session.accessToken);
    // Disconnected, or another connect or the page installed a session of its own meanwhile:
    // this outcome no longer belongs to the session held.
    if (!self || m_generation != generation || m_sessionEpoch != epoch)
        co_return;
    if (verification.kind == Verification::Case::rejected) {
        setPresets({});
        replaceSession(std::nullopt);
        setScriptsUnavailable(false);
        setState(ConnectionState::failed(rejectedMessage));
        logSession(QStringLiteral("connect failed: server rejected the token"));
        co_return;
    }
    if (verification.kind == Verification::Case::unavailable)
        logSession(QStringLiteral("connected but preset service unavailable"));
    applyVerification(verification, session.clientId);
    co_await retryPendingUsage();
}

void SessionStore::applyVerification(const Verification &verification, const QString &clientId)
{
    if (verification.kind == Verification::Case::ok) {
        setPresets(verification.presets);
        setScriptsUnavailable(false);
    } else {
        setPresets({});
        setScriptsUnavailable(true);
    }
    setState(ConnectionState::connected(clientId));
}

void SessionStore::disconnect()
{
    logSession(QStringLiteral("disconnect"));
    setPresets({});
    replaceSession(std::nullopt);
    setScriptsUnavailable(false);
    setState(ConnectionState::disconnected());
    ++m_generation;
}

QCoro::Task<bool> SessionStore::refreshSession()
{
    if (!m_session || m_session->refreshToken.isEmpty())
        co_return false;
    // Join the refresh in flight, unless it refreshes a session that has since been replaced:
    // its answer would say nothing about the one held now.
    std::shared_ptr<SharedOutcome<bool>> outcome = m_refreshTask;
    if (!outcome || m_refreshEpoch != m_sessionEpoch) {
        outcome = std::make_shared<SharedOutcome<bool>>();
        m_refreshTask = outcome;
        m_refreshEpoch = m_sessionEpoch;
        runRefresh(QPointer<SessionStore>(this), m_generation, m_sessionEpoch, m_session->refreshToken, outcome);
    }
    // Nothing of the store is touched after this: it may be gone when the answer comes.
    co_return co_await outcome->wait();
}

QCoro::Task<void> SessionStore::runRefresh(QPointer<SessionStore> store, qint64 generation, quint64 sessionEpoch,
                                           QString refreshToken, std::shared_ptr<SharedOutcome<bool>> outcome)
{
    std::optional<Session> fresh;
    QString failure;
    try {
        fresh = co_await APIClient::refresh(refreshToken);
    } catch (const std::exception &error) {
        failure = describe(error);
    }
    bool result = false;
    if (!fresh)
        logSession(QStringLiteral("refresh failed: ") + failure);
    if (store) {
        result = fresh ? store->applyRefreshed(*fresh, generation, sessionEpoch)
                       : store->applyRefreshFailure(generation, sessionEpoch);
        if (store && store->m_refreshTask == outcome)
            store->m_refreshTask.reset();
    }
    outcome->set(result);
}

bool SessionStore::applyRefreshed(const Session &fresh, qint64 generation, quint64 sessionEpoch)
{
    // Disconnected or reconnected meanwhile: the refreshed tokens belong to a session that is
    // no longer held.
    if (m_generation != generation || m_sessionEpoch != sessionEpoch)
        return m_session.has_value();
    m_session = fresh;
    emit sessionChanged();
    logSession(QStringLiteral("token refreshed client=") + fresh.clientId);
    return true;
}

bool SessionStore::applyRefreshFailure(qint64 generation, quint64 sessionEpoch)
{
    // Disconnected or reconnected meanwhile: whatever session is held now is not the one that
    // failed.
    if (m_generation != generation || m_sessionEpoch != sessionEpoch)
        return m_session.has_value();
    // A reconnect still exchanging its key is not disconnected by the old session's failure,
    // but the session held until it ends has dead tokens: no caller may use them again.
    if (m_connectsInFlight > 0)
        return false;
    disconnect();
    return false;
}

std::optional<QString> SessionStore::webSessionPayload() const
{
    if (!m_session)
        return std::nullopt;
    const QJsonObject record{{QStringLiteral("access_token"), m_session->accessToken},
                             {QStringLiteral("refresh_token"), m_session->refreshToken},
                             {QStringLiteral("installation_id"), m_session->installationId},
                             {QStringLiteral("client_id"), m_session->clientId}};
    return QString::fromUtf8(QJsonDocument(record).toJson(QJsonDocument::Compact));
}

std::optional<Session> SessionStore::parseWebSession(const QString &raw)
{
    if (raw.trimmed().isEmpty())
        return std::nullopt;
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(raw.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const QJsonObject record = document.object();
    Session session;
    session.accessToken = stringMember(record, QStringLiteral("access_token"));
    session.refreshToken = stringMember(record, QStringLiteral("refresh_token"));
    if (session.accessToken.isEmpty() && session.refreshToken.isEmpty())
        return std::nullopt;
    session.installationId = stringMember(record, QStringLiteral("installation_id"));
    session.clientId = stringMember(record, QStringLiteral("client_id"));
    return session; // sessionId stays empty: the page's record has none
}

QCoro::Task<void> SessionStore::handleWebUpdate(QVariant body)
{
    if (body.typeId() != QMetaType::QString)
        co_return;
    const QString text = body.toString();
    if (text.isEmpty())
        co_return;
    if (text.startsWith(QLatin1Char('{'))) {
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(text.toUtf8(), &error);
        const QJsonObject notice = document.object();
        if (error.error == QJsonParseError::NoError && document.isObject()
            && (notice.contains(QStringLiteral("v")) || notice.contains(QStringLiteral("p")))) {
            // The page's session watcher: "v" is the new record, "p" the one it had before.
            const QString current = stringMember(notice, QStringLiteral("v"));
            if (!current.isEmpty()) {
                co_await adoptWebSession(current);
                co_return;
            }
            const QString previous = stringMember(notice, QStringLiteral("p"));
            if (previous.isEmpty())
                co_return;
            const std::optional<Session> removed = parseWebSession(previous);
            // The page signed out of the session this application holds.
            if (removed && m_session && removed->accessToken == m_session->accessToken)
                disconnect();
            co_return;
        }
    }
    co_await adoptWebSession(text);
}

QCoro::Task<void> SessionStore::adoptWebSession(QString raw)
{
    QPointer<SessionStore> self(this);
    const std::optional<Session> parsed = parseWebSession(raw);
    if (!parsed) {
        if (m_session)
            disconnect();
        co_return;
    }
    if (m_session && m_session->accessToken == parsed->accessToken)
        co_return;
    logSession(QStringLiteral("adopting web session client=") + parsed->clientId);
    replaceSession(parsed);
    const qint64 generation = m_generation;
    const quint64 epoch = m_sessionEpoch;

    const Verification verification = co_await verify(parsed->accessToken);
    if (!self || m_generation != generation || m_sessionEpoch != epoch)
        co_return;
    if (verification.kind == Verification::Case::rejected) {
        setPresets({});
        replaceSession(std::nullopt);
        setScriptsUnavailable(false);
        setState(ConnectionState::disconnected());
        logSession(QStringLiteral("adopted session was rejected by the server"));
        co_return;
    }
    applyVerification(verification, parsed->clientId);
}

QCoro::Task<bool> SessionStore::reportUsage(QString token, QString processKey, qint64 fileCount, qint64 inputBytes,
                                            QString filename)
{
    QPointer<SessionStore> self(this);
    const PendingUsage report{token, processKey, fileCount, inputBytes, filename};
    const int status = co_await sendUsage(report, token);
    if (status == 200)
        co_return true;
    if (!self)
        co_return false; // the store and its queue are gone (the application is quitting)
    if (status == 401 || status == 403) {
        logUsage(QStringLiteral("report got ") + QString::number(status) + QStringLiteral(" — attempting one refresh"));
        const bool refreshed = co_await refreshSession();
        if (!self)
            co_return false;
        if (refreshed && m_session) {
            const int second = co_await sendUsage(report, m_session->accessToken);
            if (second == 200)
                co_return true;
            if (!self)
                co_return false;
        }
    }
    queueUsage(report); // with the token it was first sent with
    co_return false;
}

void SessionStore::queueUsage(const PendingUsage &item)
{
    if (!m_pendingUsage.contains(item)) {
        QList<PendingUsage> queue = m_pendingUsage;
        queue.append(item);
        setPendingUsage(std::move(queue));
    }
    logUsage(QStringLiteral("queued retry (pending=") + QString::number(m_pendingUsage.size()) + QLatin1Char(')'));
}

QCoro::Task<void> SessionStore::retryPendingUsage()
{
    QPointer<SessionStore> self(this);
    QList<PendingUsage> snapshot;
    for (const PendingUsage &record : std::as_const(m_pendingUsage))
        if (!m_usageInFlight.contains(record))
            snapshot.append(record);
    if (snapshot.isEmpty())
        co_return;
    m_usageInFlight += snapshot;

    QList<PendingUsage> delivered;
    for (const PendingUsage &record : std::as_const(snapshot)) {
        const int status = co_await sendUsage(record, record.token);
        if (!self)
            co_return;
        if (status == 200)
            delivered.append(record);
    }

    for (const PendingUsage &record : std::as_const(snapshot))
        m_usageInFlight.removeOne(record);
    // The pass settles only its own records: the survivors keep their places, and reports
    // queued while it ran stay behind them.
    QList<PendingUsage> queue = m_pendingUsage;
    for (const PendingUsage &record : std::as_const(delivered))
        queue.removeOne(record);
    setPendingUsage(std::move(queue));
    logUsage(QStringLiteral("retry finished (pending=") + QString::number(m_pendingUsage.size()) + QLatin1Char(')'));
}

} // namespace vorlik::service
