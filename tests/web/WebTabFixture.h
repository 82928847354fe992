#pragma once
// Real web tabs against the stand-in service (Correction on the plain server, the base URL; Cinema on
// the HTTPS one as the service's own host "localhost"), a fresh SessionStore and settings per test.
#include "service/SessionStore.h"
#include "tests/support/DevServer.h"
#include "tests/support/DropEvents.h"
#include "tests/support/QtPrinters.h"
#include "web/Coordinator.h"
#include "web/VorlikWebPage.h"
#include "web/VorlikWebView.h"
#include "web/WebTabView.h"

#include <gtest/gtest.h>

#include <QDesktopServices>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTest>

#include <functional>
#include <memory>
#include <vector>

namespace vorlik::test {

// Runs the event loop until condition holds; false when timeoutMs passed first.
bool waitUntil(const std::function<bool()> &condition, int timeoutMs = 20000);

// A page script's completion value (an empty value after timeoutMs).
QVariant evaluate(QWebEnginePage *page, const QString &script, int timeoutMs = 20000);

// The diagnostics log lines written since it was made (the log is switched on meanwhile), as
// "[category] message".
class LogWatch {
public:
    LogWatch();
    ~LogWatch();
    QStringList lines() const;
    bool contains(const QString &line) const { return lines().contains(line); }
    int count(const QString &line) const { return int(lines().count(line)); }
    int countStartingWith(const QString &prefix) const;
    bool waitFor(const QString &line, int timeoutMs = 20000) const { return waitUntil([&] { return contains(line); }, timeoutMs); }

private:
    qsizetype m_mark = 0;
};

// Standard output of this process while it lives (the pages' console); written out again at the end.
class StdoutCapture {
public:
    StdoutCapture();
    ~StdoutCapture();
    QString text() const;
    QStringList lines() const { return text().split(QLatin1Char('\n'), Qt::SkipEmptyParts); }
    bool waitFor(const QString &line, int timeoutMs = 20000) const { return waitUntil([&] { return lines().contains(line); }, timeoutMs); }

private:
    QTemporaryFile m_file;
    int m_saved = -1;
};

// Takes the http(s) URLs the program hands to the desktop's browser.
class UrlCatcher : public QObject {
    Q_OBJECT
public:
    UrlCatcher() { for (const char *scheme : {"https", "http"}) QDesktopServices::setUrlHandler(QLatin1String(scheme), this, "open"); }
    ~UrlCatcher() override { for (const char *scheme : {"https", "http"}) QDesktopServices::unsetUrlHandler(QLatin1String(scheme)); }
    QList<QUrl> urls;

public slots:
    void open(const QUrl &url) { urls << url; }
};

// The desktop's notification service, on a connection of its own to the session bus.
class NotificationCatcher : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    struct Notice { QString summary, body; QVariantMap hints; };
    NotificationCatcher();
    ~NotificationCatcher() override;
    bool isRegistered() const { return m_registered; }
    QList<Notice> notices;

public slots:
    uint Notify(const QString &, uint, const QString &, const QString &summary, const QString &body, const QStringList &,
                const QVariantMap &hints, int) { notices << Notice{summary, body, hints}; return uint(notices.size()); }

private:
    bool m_registered = false;
};

// A user's click at a page point (CSS pixels): press and release on the view's input widget.
void clickAt(web::VorlikWebView *view, QPointF pagePoint);
// The centre of the first element matching selector, in page coordinates (null point: none).
QPointF centreOf(QWebEnginePage *page, const QString &selector);

// A sparse file of `size` bytes whose first and last bytes are head and tail.
void writeSparseFile(const QString &path, qint64 size, const QByteArray &head, const QByteArray &tail);
// SHA-256 (hex) of the whole file, and of its first and last MiB as the stand-in page samples them.
QString sha256Of(const QString &path);
QString sampleSha256Of(const QString &path);

// Saves widget.grab() as build/screenshots/NAME.png once the engine's frames hold still; returns the path.
QString saveScreenshot(QWidget *widget, const QString &name);

class WebTabFixture : public ::testing::Test {
public:
    static QString quotedKey() { return QStringLiteral("vk_o'brien\\desk"); } // accepted besides the demo key
    static DevServer &http();
    static DevServer &https();

protected:
    void SetUp() override;
    void TearDown() override;

    // A shown, selected tab whose first page has finished loading (openURL, when set, instead).
    web::WebTabView &openCorrection() { return openTab(web::WebTabView::correctionURL(), true); }
    web::WebTabView &openCinema() { return openTab(web::WebTabView::cinemaURL(), false); }
    web::WebTabView &openTab(const QUrl &url, bool isCorrection, const QUrl &expectedPage = {});
    web::WebTabView &openPlainPage(); // Correction on the stand-in's plain page: a file input, no drop target
    void closeTabs();
    void navigate(web::WebTabView &tab, const QUrl &url); // and wait for the load to end
    QVariant evaluate(web::WebTabView &tab, const QString &script) { return test::evaluate(tab.page(), script); }
    bool waitForPage(web::WebTabView &tab, const QString &condition, int timeoutMs = 20000); // a script expression
    QString scratch(const QString &name) const { return m_scratch.filePath(name); }

    std::unique_ptr<service::SessionStore> m_store;
    std::unique_ptr<LogWatch> m_log;
    std::vector<std::unique_ptr<web::WebTabView>> m_tabs;
    QTemporaryDir m_scratch;

private:
    bool waitForLoad(const QUrl &url, int before);
};

} // namespace vorlik::test
