#pragma once
// Helpers of the web tests: waiting on the event loop, running page scripts, the log lines and
// standard output of the run, a catcher for URLs handed to the desktop's browser, a stand-in
// notification service on the session bus, native drops, sparse files and screenshots.
#include "web/WebTabView.h"

#include <QList>
#include <QObject>
#include <QPointF>
#include <QString>
#include <QStringList>
#include <QTemporaryFile>
#include <QUrl>
#include <QVariant>
#include <QVariantMap>

#include <functional>
#include <memory>

#include <ostream>

class QWebEnginePage;
class QWidget;

QT_BEGIN_NAMESPACE
inline void PrintTo(const QString &text, std::ostream *out) { *out << '"' << text.toStdString() << '"'; }
QT_END_NAMESPACE

namespace vorlik::test {

// Runs the event loop until condition holds; false when timeoutMs passed first.
bool waitUntil(const std::function<bool()> &condition, int timeoutMs = 20000);
// Lets the event loop run for a while (for "nothing more happens" checks).
void settle(int ms);

// A page script's completion value (an empty value after timeoutMs).
QVariant evaluate(QWebEnginePage *page, const QString &script, int timeoutMs = 20000);

// The diagnostics log lines written since it was made (the log is switched on meanwhile), as
// "[category] message".
class LogWatch {
public:
    LogWatch();
    ~LogWatch();
    QStringList lines() const;
    bool contains(const QString &line) const;
    int count(const QString &line) const;
    int countStartingWith(const QString &prefix) const;
    bool waitFor(const QString &line, int timeoutMs = 20000) const;

private:
    qsizetype m_mark = 0;
};

// Standard output of this process while it lives; what was caught is written out again at the end.
class StdoutCapture {
public:
    StdoutCapture();
    ~StdoutCapture();
    QString text() const;
    QStringList lines() const;
    bool waitFor(const QString &line, int timeoutMs = 20000) const;

private:
    QTemporaryFile m_file;
    int m_saved = -1;
};

// Takes the URLs the program hands to the desktop's browser (http and https), instead of a browser.
class UrlCatcher : public QObject {
    Q_OBJECT
public:
    UrlCatcher();
    ~UrlCatcher() override;
    QList<QUrl> urls;

public slots:
    void open(const QUrl &url);
};

// The desktop's notification service, on a connection of its own to the session bus.
class NotificationCatcher : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    struct Notice {
        QString appName;
        QString summary;
        QString body;
        QVariantMap hints;
    };
    NotificationCatcher();
    ~NotificationCatcher() override;
    bool isRegistered() const { return m_registered; }
    QList<Notice> notices;

public slots:
    uint Notify(const QString &appName, uint replacesId, const QString &appIcon, const QString &summary,
                const QString &body, const QStringList &actions, const QVariantMap &hints, int expireTimeout);
    QStringList GetCapabilities();

private:
    bool m_registered = false;
};

// A user's click at a page point (CSS pixels): press and release on the view's input widget.
void clickAt(web::VorlikWebView *view, QPointF pagePoint);
// The centre of the first element matching selector, in page coordinates (null point: none).
QPointF centreOf(QWebEnginePage *page, const QString &selector);

// A native drag of files over the view, dropped at point (view coordinates).
void dropFiles(web::VorlikWebView *view, const QList<QUrl> &files, QPointF point);

// A sparse file of `size` bytes whose first and last bytes are head and tail.
void writeSparseFile(const QString &path, qint64 size, const QByteArray &head, const QByteArray &tail);
// SHA-256 (hex) of the whole file, and of its first and last MiB as the stand-in page samples them.
QString sha256Of(const QString &path);
QString sampleSha256Of(const QString &path);

// Saves widget.grab() as build/screenshots/NAME.png; returns the path.
QString saveScreenshot(QWidget *widget, const QString &name);

} // namespace vorlik::test
