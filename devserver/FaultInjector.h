#pragma once
// Faults that tests set per endpoint: a status, a malformed or non-UTF-8 body, a dropped
// connection, a delay or an answer that stops after its first bytes, each for a number of matching requests; and the capture of a request
// body exactly as it arrived (answered like a status fault).
#include <QJsonObject>
#include <QString>

#include <mutex>
#include <optional>
#include <vector>

namespace vorlik::devserver {

struct Fault {
    enum class Action { status, malformed, nonUtf8, close, delay, capture, stall };

    QString method;          // empty: any method
    QString path;            // exact path, no query
    Action action = Action::status;
    int status = 500;
    QByteArray body = R"({"error":"injected"})";
    QString location;        // "status" only: sent as the Location header when not empty
    qint64 delayMs = 0;
    int count = 1;           // -1: every matching request

    // From the admin JSON object; sets error and returns none when a member is wrong.
    static std::optional<Fault> fromJson(const QJsonObject &object, QString &error);
    // From a --fault text: 'METHOD PATH action=close count=2 status=500 delay_ms=100 body=TEXT'.
    // METHOD may be "*" for any.
    static std::optional<Fault> fromSpec(const QString &spec, QString &error);
    QJsonObject toJson() const;

    static QString actionName(Action action);
};

class FaultInjector {
public:
    void add(const Fault &fault);
    void clear();
    // The first fault matching the request, with its count taken down by one.
    std::optional<Fault> take(const QString &method, const QString &path);
    std::vector<Fault> list() const;

private:
    mutable std::mutex m_lock;
    std::vector<Fault> m_faults;
};

} // namespace vorlik::devserver
