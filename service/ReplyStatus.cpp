#include "service/ReplyStatus.h"

#include <QNetworkReply>
#include <QNetworkRequest>

namespace vorlik::service {
namespace {

// The codes Qt derives from the status of an answer it received whole: the content errors
// (401, 403, 404, 405, 409, 410, other 4xx), the server errors (500, 501, 503, other 5xx), the
// two it files elsewhere, an invalid operation (400, 418) and a proxy's demand for credentials
// (407), and an unknown protocol for a redirect that names no place to go. Every other code is
// a failure of the transfer.
bool derivedFromStatus(QNetworkReply::NetworkError code)
{
    return (code >= QNetworkReply::ContentAccessDenied && code <= QNetworkReply::UnknownContentError)
        || (code >= QNetworkReply::InternalServerError && code <= QNetworkReply::UnknownServerError)
        || code == QNetworkReply::ProtocolUnknownError || code == QNetworkReply::ProtocolInvalidOperationError
        || code == QNetworkReply::ProxyAuthenticationRequiredError;
}

bool hasStatus(const QNetworkReply &reply)
{
    return reply.attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid();
}

} // namespace

bool ReplyStatus::transferFailed(const QNetworkReply &reply)
{
    const QNetworkReply::NetworkError code = reply.error();
    if (code == QNetworkReply::NoError)
        return false;
    return !(hasStatus(reply) && derivedFromStatus(code));
}

std::optional<int> ReplyStatus::of(const QNetworkReply &reply)
{
    if (transferFailed(reply))
        return std::nullopt;
    const QVariant status = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid())
        return std::nullopt;
    return status.toInt();
}

} // namespace vorlik::service
