#pragma once
// A web tab of the main window (Correction or Cinema): the service's page in a VorlikWebView,
// with the tab's Coordinator. Made once per tab and kept while the window keeps the tab;
// switching tabs only hides and shows it, so the page keeps its state.
#include <QPointer>
#include <QUrl>
#include <QWidget>

#include <memory>

class QWebEngineProfile;

namespace vorlik::service {
class SessionStore;
}

namespace vorlik::web {

class Coordinator;
class VorlikWebPage;
class VorlikWebView;

class WebTabView : public QWidget {
    Q_OBJECT
public:
    // Builds the view and its coordinator, registers the tab's drop handler and starts loading
    // the page ("openURL" in the settings, when it is a URL, instead of url).
    WebTabView(QUrl url, bool isCorrection, service::SessionStore &store, bool active = false, QWidget *parent = nullptr);
    ~WebTabView() override;

    // The pages of the two tabs: "correction" on the service base URL, and "/cinema" on the
    // service's own host over https.
    static QUrl correctionURL();
    static QUrl cinemaURL();

    // The tab became the selected one, or stopped being it: shows or hides the web view, takes
    // file drags only while shown, tells the drop router, and writes the session into the page.
    void setActive(bool active);
    bool isActive() const { return m_active; }

    QUrl url() const { return m_url; }
    bool isCorrection() const { return m_isCorrection; }
    VorlikWebView *webView() const { return m_view; }
    VorlikWebPage *page() const { return m_page; }
    Coordinator *coordinator() const { return m_coordinator.get(); }

private:
    QUrl m_url;
    bool m_isCorrection;
    bool m_active = false;
    // Declared before the coordinator and the view: the profile outlives the page.
    std::shared_ptr<QWebEngineProfile> m_profile;
    std::unique_ptr<Coordinator> m_coordinator;
    VorlikWebView *m_view = nullptr;
    VorlikWebPage *m_page = nullptr;
};

} // namespace vorlik::web
