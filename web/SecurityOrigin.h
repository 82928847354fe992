#pragma once
// The origin of a frame as the native side compares it: protocol, host and port, with port 0
// standing for the scheme's default port (the way a frame's origin reports it).
#include <QString>
#include <QUrl>

namespace vorlik::web {

struct SecurityOrigin {
    QString protocol; // "https", without the colon
    QString host;
    int port = 0;     // 0: the scheme's default port

    // The origin of a page address; an explicit default port (http :80, https :443) reads as 0.
    static SecurityOrigin fromUrl(const QUrl &url);
    // The origin as a page writes it (location.origin, MessageEvent.origin): "https://host:8443".
    static SecurityOrigin fromText(const QString &origin);

    // "http://127.0.0.1:8080", "https://vorlik.app", "file://"; "null" for an opaque origin.
    QString description() const;

    friend bool operator==(const SecurityOrigin &, const SecurityOrigin &) = default;
};

} // namespace vorlik::web
