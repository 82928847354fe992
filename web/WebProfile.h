#pragma once
// The persistent web profile both web tabs share: local storage, cookies and cache under the
// application's data folder, the application's user agent, no pop-up windows, PDFs saved
// instead of shown, and the resource guard. It lives while a tab holds it; a page must be
// deleted before the profile it was made with.
#include <QString>

#include <memory>

class QWebEngineProfile;

namespace vorlik::web {

class WebProfile {
public:
    static constexpr const char *userAgent = "VorlikDesktop/1.0 (Safari WebView)";
    static constexpr const char *storageName = "Vorlik";

    // The profile, made on first use and kept while anyone holds it.
    static std::shared_ptr<QWebEngineProfile> acquire();

    static QString storagePath(); // ~/.local/share/Vorlik/WebData
    static QString cachePath();   // ~/.cache/Vorlik/WebCache
};

} // namespace vorlik::web
