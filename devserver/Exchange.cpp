#include "devserver/Exchange.h"

#include <QJsonDocument>

namespace vorlik::devserver {

Exchange::Exchange(const httplib::Request &request, httplib::Response &response, const httplib::ContentReader *reader)
    : request(request), response(response), m_reader(reader)
{
}

QString Exchange::method() const { return QString::fromStdString(request.method); }
QString Exchange::path() const { return QString::fromStdString(request.path); }

QString Exchange::header(const char *name) const
{
    return request.has_header(name) ? QString::fromStdString(request.get_header_value(name)) : QString();
}

qint64 Exchange::contentLength() const
{
    if (!request.has_header("Content-Length"))
        return -1;
    bool ok = false;
    const qint64 length = header("Content-Length").toLongLong(&ok);
    return ok ? length : -1;
}

std::optional<QByteArray> Exchange::readBody(qint64 limit)
{
    QByteArray body;
    bool tooLarge = false;
    if (!m_reader || m_consumed) {
        body = QByteArray::fromStdString(request.body);
        m_bodyBytes = body.size();
    } else if (request.is_multipart_form_data()) {
        drain();   // not a JSON body; the caller sees an empty one and says so
    } else {
        m_consumed = true;
        (*m_reader)([&](const char *data, size_t length) {
            m_bodyBytes += qint64(length);
            if (body.size() + qint64(length) > limit)
                tooLarge = true;
            else
                body.append(data, qsizetype(length));
            return true;
        });
    }
    if (tooLarge) {
        error(413, QStringLiteral("request body larger than %1 bytes").arg(limit));
        return std::nullopt;
    }
    return body;
}

std::optional<QJsonObject> Exchange::readJsonObject()
{
    const auto body = readBody();
    if (!body)
        return std::nullopt;
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(*body, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        error(400, QStringLiteral("body is not JSON: ") + parseError.errorString());
        return std::nullopt;
    }
    if (!document.isObject()) {
        error(400, QStringLiteral("body must be a JSON object"));
        return std::nullopt;
    }
    return document.object();
}

void Exchange::drain()
{
    if (!m_reader || m_consumed)
        return;
    m_consumed = true;
    const auto count = [this](const char *, size_t length) {
        m_bodyBytes += qint64(length);
        return true;
    };
    if (request.is_multipart_form_data())
        (*m_reader)([](const httplib::MultipartFormData &) { return true; }, count);
    else
        (*m_reader)(count);
}

const httplib::ContentReader *Exchange::takeReader()
{
    if (!m_reader || m_consumed)
        return nullptr;
    m_consumed = true;
    return m_reader;
}

std::optional<TokenStore::Identity> Exchange::authenticate(const TokenStore &tokens)
{
    const QString authorization = header("Authorization");
    const QString scheme = QStringLiteral("Bearer ");
    if (!authorization.startsWith(scheme, Qt::CaseInsensitive) || authorization.mid(scheme.size()).trimmed().isEmpty()) {
        error(401, QStringLiteral("missing bearer token"));
        return std::nullopt;
    }
    TokenStore::Rejection why = TokenStore::Rejection::unknown;
    const auto identity = tokens.check(authorization.mid(scheme.size()).trimmed(), &why);
    if (!identity)
        error(401, why == TokenStore::Rejection::expired ? QStringLiteral("access token expired")
                                                         : QStringLiteral("unknown access token"));
    return identity;
}

void Exchange::json(int status, const QJsonObject &object)
{
    raw(status, QJsonDocument(object).toJson(QJsonDocument::Compact), "application/json");
}

void Exchange::json(int status, const QJsonArray &array)
{
    raw(status, QJsonDocument(array).toJson(QJsonDocument::Compact), "application/json");
}

void Exchange::error(int status, const QString &message)
{
    json(status, QJsonObject{{QStringLiteral("error"), message}});
}

void Exchange::raw(int status, const QByteArray &body, const char *contentType)
{
    response.status = status;
    // These statuses carry no body; bytes sent anyway would be read as the next answer.
    if (status == 204 || status == 304 || (status >= 100 && status < 200))
        return;
    response.set_content(body.toStdString(), contentType);
}

} // namespace vorlik::devserver
