#pragma once
// How a finished reply is read, the same everywhere one is judged: an answer that carries an
// HTTP status is a response with that status, whatever error code Qt filed it under (Qt reports
// 4xx/5xx answers as errors, 400 and 418 as an invalid operation, 407 as a proxy's demand); a
// transfer that failed (no connection, time-out, cancelled, cut off mid-body, a redirect loop or
// one to plain HTTP) is a transport error even when a status line had arrived.
#include <optional>

class QNetworkReply;

namespace vorlik::service {

struct ReplyStatus {
    // The transfer itself failed: throw TransportError with Qt's code and text.
    static bool transferFailed(const QNetworkReply &reply);
    // The status of an answer that arrived whole; none when the transfer failed or the answer
    // came from something other than an HTTP server.
    static std::optional<int> of(const QNetworkReply &reply);
};

} // namespace vorlik::service
