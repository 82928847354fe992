#include "service/BodyLength.h"

#include <QNetworkReply>
#include <QNetworkRequest>

namespace vorlik::service {

std::optional<QString> BodyLength::shortfall(const QNetworkReply &reply, qint64 receivedBytes)
{
    // A compressed body is counted before Qt inflates it: its length says nothing here.
    const QByteArray encoding = reply.rawHeader("Content-Encoding").trimmed().toLower();
    if (!encoding.isEmpty() && encoding != "identity")
        return std::nullopt;
    const QVariant announced = reply.header(QNetworkRequest::ContentLengthHeader);
    bool ok = false;
    const qint64 expected = announced.toLongLong(&ok);
    if (!announced.isValid() || !ok || receivedBytes >= expected)
        return std::nullopt;
    return QStringLiteral("The connection closed after %1 of %2 bytes.").arg(receivedBytes).arg(expected);
}

} // namespace vorlik::service
