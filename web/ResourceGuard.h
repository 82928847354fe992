#pragma once
// Keeps web content away from the program's own resources and the user's files: no page may
// load a qrc: address, and only local pages (or the application itself) may load file:
// addresses.
#include <QWebEngineUrlRequestInterceptor>

namespace vorlik::web {

class ResourceGuard : public QWebEngineUrlRequestInterceptor {
    Q_OBJECT
public:
    using QWebEngineUrlRequestInterceptor::QWebEngineUrlRequestInterceptor;
    void interceptRequest(QWebEngineUrlRequestInfo &info) override;

    // The rule itself: request address and the origin that asked for it (empty: the application).
    static bool isBlocked(const QUrl &requestUrl, const QUrl &initiator);
};

} // namespace vorlik::web
