#pragma once
// One request and its answer as the routes see them: path parameters, the bearer, a body read
// with a size limit (or streamed by the route itself), and JSON answers.
#include "devserver/TokenStore.h"

#include <httplib.h>

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <optional>

namespace vorlik::devserver {

class Exchange {
public:
    static constexpr qint64 jsonBodyLimit = 1 << 20;

    Exchange(const httplib::Request &request, httplib::Response &response, const httplib::ContentReader *reader);

    const httplib::Request &request;
    httplib::Response &response;
    QStringList params;   // the {} segments of the route's pattern, in order

    QString method() const;
    QString path() const;
    QString header(const char *name) const;
    qint64 contentLength() const;   // -1 when not given

    // The whole body, when it is at most `limit` bytes; otherwise answers 413 and returns none.
    std::optional<QByteArray> readBody(qint64 limit = jsonBodyLimit);
    // The body as one JSON object; otherwise answers 400 (or 413) and returns none.
    std::optional<QJsonObject> readJsonObject();
    // Reads and forgets whatever is left of the body, so the connection stays usable.
    void drain();
    // For streaming routes: the reader, marked as used. Null when the request has no body.
    const httplib::ContentReader *takeReader();
    void addBodyBytes(qint64 count) { m_bodyBytes += count; }
    qint64 bodyBytes() const { return m_bodyBytes; }

    // The identity behind "Authorization: Bearer TOKEN"; otherwise answers 401 and returns none.
    std::optional<TokenStore::Identity> authenticate(const TokenStore &tokens);

    void json(int status, const QJsonObject &object);
    void json(int status, const QJsonArray &array);
    void error(int status, const QString &message);
    void raw(int status, const QByteArray &body, const char *contentType);

private:
    const httplib::ContentReader *m_reader;
    bool m_consumed = false;
    qint64 m_bodyBytes = 0;
};

} // namespace vorlik::devserver
