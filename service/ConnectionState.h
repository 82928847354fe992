#pragma once
// What the connection control shows: no session, a key being exchanged, a session held and
// accepted (with the client it belongs to), or the last connect attempt failed (with the text
// the user sees). A value with equality.
#include <QString>

namespace vorlik::service {

struct ConnectionState {
    enum class Case { disconnected, connecting, connected, failed };

    Case kind = Case::disconnected;
    QString clientId; // connected
    QString message;  // failed

    static ConnectionState disconnected() { return {}; }
    static ConnectionState connecting() { return {Case::connecting, {}, {}}; }
    static ConnectionState connected(const QString &clientId) { return {Case::connected, clientId, {}}; }
    static ConnectionState failed(const QString &message) { return {Case::failed, {}, message}; }

    bool isConnected() const { return kind == Case::connected; }

    friend bool operator==(const ConnectionState &, const ConnectionState &) = default;
};

} // namespace vorlik::service
