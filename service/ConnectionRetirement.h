#pragma once
// Retires the connections a network session keeps alive, at a moment when no exchange is in
// flight, once they are older than a limit. Qt's TLS layer switches on OpenSSL's own client
// session cache and never reads from it: every session ticket the service sends, with the
// service's certificate chain, stays there for the ticket's lifetime (hours) for as long as
// the kept connection lives. A session in steady use never lets its connection expire, so each
// reconnect (the service closing a kept-alive connection, a dropped one) added to the heap for
// good. Qt offers no way to reach or bound that cache; closing the kept connections frees it.
#include <QElapsedTimer>
#include <QObject>

#include <chrono>

class QNetworkAccessManager;

namespace vorlik::service {

class ConnectionRetirement : public QObject {
public:
    // Long enough that a retirement costs one handshake a minute at most, short enough that
    // what a minute of reconnects gathers stays small.
    static constexpr std::chrono::milliseconds defaultMaximumAge{60000};

    // Watches `session` (and is deleted with it): after each finished exchange, once the kept
    // connections are older than `maximumAge` and nothing else is in flight, they are closed.
    static void install(QNetworkAccessManager &session, std::chrono::milliseconds maximumAge = defaultMaximumAge);

private:
    ConnectionRetirement(QNetworkAccessManager &session, std::chrono::milliseconds maximumAge);
    void retireIfQuiet();

    QNetworkAccessManager &m_session;
    std::chrono::milliseconds m_maximumAge;
    QElapsedTimer m_age;
    bool m_checkPending = false;
};

} // namespace vorlik::service
