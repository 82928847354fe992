#pragma once
// Whether an answer's body arrived whole. Over plain HTTP, Qt ends a reply without an error
// when the server closes the connection before the announced Content-Length; downloads check
// the length themselves.
#include <QString>

#include <optional>

class QNetworkReply;

namespace vorlik::service {

struct BodyLength {
    // "The connection closed after 100000 of 5242883 bytes." when fewer bytes than announced
    // arrived; none when the length matched, was not announced, or the body was re-encoded.
    static std::optional<QString> shortfall(const QNetworkReply &reply, qint64 receivedBytes);
};

} // namespace vorlik::service
