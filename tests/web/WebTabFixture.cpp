#include "tests/web/WebTabFixture.h"

#include "diagnostics/DiagnosticsLogger.h"
#include "platform/ServiceConfig.h"
#include "platform/Settings.h"
#include "platform/Sha256.h"
#include "tests/support/TestFiles.h"
#include "web/DropRouter.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QJsonDocument>
#include <QMouseEvent>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <unistd.h>

namespace vorlik::test {

using diagnostics::DiagnosticsLogger;
using platform::Settings;

bool waitUntil(const std::function<bool()> &condition, int timeoutMs)
{
    // Not QTest::qWaitFor: it sleeps 10 ms between passes, which holds back work that takes the
    // page many round trips (2000 dropped files took minutes). This sleeps in the event loop.
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] { condition() ? loop.quit() : void(); });
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    poll.start(5);
    if (!condition())
        loop.exec();
    return condition();
}

QVariant evaluate(QWebEnginePage *page, const QString &script, int timeoutMs)
{
    bool done = false;
    QVariant result;
    page->runJavaScript(script, [&](const QVariant &value) {
        result = value;
        done = true;
    });
    return waitUntil([&] { return done; }, timeoutMs) ? result : QVariant();
}

LogWatch::LogWatch()
{
    Settings::standard().setValue(QStringLiteral("vorlikDiag"), true);
    m_mark = DiagnosticsLogger::shared().bufferSnapshot().size();
}

LogWatch::~LogWatch() { Settings::standard().setValue(QStringLiteral("vorlikDiag"), false); }

QStringList LogWatch::lines() const
{
    QStringList lines;
    for (const QString &line : DiagnosticsLogger::shared().bufferSnapshot().mid(m_mark)) // "<time> [category] message\n"
        lines << line.mid(line.indexOf(QStringLiteral(" [")) + 1).chopped(line.endsWith(QLatin1Char('\n')) ? 1 : 0);
    return lines;
}

int LogWatch::countStartingWith(const QString &prefix) const
{
    const QStringList all = lines();
    return int(std::count_if(all.begin(), all.end(), [&](const QString &line) { return line.startsWith(prefix); }));
}

StdoutCapture::StdoutCapture()
{
    m_file.open();
    std::fflush(stdout);
    m_saved = ::dup(STDOUT_FILENO);
    ::dup2(m_file.handle(), STDOUT_FILENO);
}

StdoutCapture::~StdoutCapture()
{
    std::fflush(stdout);
    ::dup2(m_saved, STDOUT_FILENO);
    ::close(m_saved);
    const QByteArray caught = text().toUtf8();
    std::fwrite(caught.constData(), 1, size_t(caught.size()), stdout);
    std::fflush(stdout);
}

QString StdoutCapture::text() const
{
    std::fflush(stdout);
    return QString::fromUtf8(readFile(m_file.fileName()));
}

namespace {
const QString catcherConnection = QStringLiteral("vorlik-notification-catcher");
}

NotificationCatcher::NotificationCatcher()
{
    QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, catcherConnection);
    m_registered = bus.isConnected()
        && bus.registerObject(QStringLiteral("/org/freedesktop/Notifications"), this, QDBusConnection::ExportAllSlots)
        && bus.registerService(QStringLiteral("org.freedesktop.Notifications"));
}

NotificationCatcher::~NotificationCatcher()
{
    QDBusConnection bus(catcherConnection);
    bus.unregisterService(QStringLiteral("org.freedesktop.Notifications"));
    bus.unregisterObject(QStringLiteral("/org/freedesktop/Notifications"));
    QDBusConnection::disconnectFromBus(catcherConnection);
}

void clickAt(web::VorlikWebView *view, QPointF pagePoint)
{
    QWidget *input = view->inputWidget();
    const QPointF local = input->mapFrom(view, view->viewPoint(pagePoint));
    for (QEvent::Type type : {QEvent::MouseMove, QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
        const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
        const Qt::MouseButtons buttons = type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton;
        QMouseEvent event(type, local, input->mapToGlobal(local), button, buttons, Qt::NoModifier);
        QCoreApplication::sendEvent(input, &event);
        QTest::qWait(30);
    }
}

QPointF centreOf(QWebEnginePage *page, const QString &selector)
{
    const QVariantList point =
        evaluate(page, QStringLiteral("(function () { var e = document.querySelector(%1); if (!e) return null;"
                                      " var r = e.getBoundingClientRect(); return [r.x + r.width / 2, r.y + r.height / 2]; })()")
                           .arg(QString::fromUtf8(QJsonDocument(QJsonArray{selector}).toJson(QJsonDocument::Compact)).mid(1).chopped(1)))
            .toList();
    return point.size() == 2 ? QPointF(point.at(0).toDouble(), point.at(1).toDouble()) : QPointF();
}

void writeSparseFile(const QString &path, qint64 size, const QByteArray &head, const QByteArray &tail)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        qFatal("cannot write %s", qPrintable(path));
    file.write(head);
    file.resize(size); // the middle is a hole: no blocks on disk
    file.seek(size - tail.size());
    file.write(tail);
}

QString sha256Of(const QString &path) { return platform::Sha256::hexDigest(readFile(path)); }

QString sampleSha256Of(const QString &path)
{
    constexpr qint64 sample = 1024 * 1024;
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    platform::Sha256 hash;
    hash.add(file.read(sample));
    file.seek(file.size() - sample);
    hash.add(file.read(sample));
    return hash.hexDigest();
}

QString saveScreenshot(QWidget *widget, const QString &name)
{
    QDir().mkpath(QStringLiteral(VORLIK_SCREENSHOT_DIR));
    const QString path = QStringLiteral(VORLIK_SCREENSHOT_DIR "/") + name + QStringLiteral(".png");
    // The engine delivers frames on its own schedule: wait for a picture of more than one colour
    // that holds still.
    const auto blank = [](const QImage &picture) {
        for (int y = 0; y < picture.height(); y += 7)
            for (int x = 0; x < picture.width(); x += 7)
                if (picture.pixel(x, y) != picture.pixel(0, 0))
                    return false;
        return true;
    };
    QImage picture = widget->grab().toImage();
    for (int round = 0; round < 40; ++round) {
        QTest::qWait(150);
        const QImage next = widget->grab().toImage();
        if (next == picture && !blank(next))
            break;
        picture = next;
    }
    picture.save(path);
    return path;
}

DevServer &WebTabFixture::http() { return DevServer::shared({QStringLiteral("--key"), quotedKey()}); }

DevServer &WebTabFixture::https() { return DevServer::sharedTls(); }

void WebTabFixture::SetUp()
{
    Settings::standard().clearOverrides();
    Settings::standard().setOverride(QStringLiteral("baseURL"), http().baseUrl().toString());
    QUrl own = https().baseUrl();
    own.setHost(QStringLiteral("localhost"));
    platform::ServiceConfig::setCurrentForTesting(own);
    http().reset();
    https().reset();
    web::DropRouter::shared() = web::DropRouter();
    m_log = std::make_unique<LogWatch>();
    m_store = std::make_unique<service::SessionStore>();
}

void WebTabFixture::TearDown()
{
    // The profile keeps local storage on disk: the next test starts signed out.
    for (const auto &tab : m_tabs)
        test::evaluate(tab->page(), QStringLiteral("try { localStorage.clear(); } catch (e) {} 1"));
    closeTabs();
    m_store.reset();
    m_log.reset();
    web::DropRouter::shared() = web::DropRouter();
    platform::ServiceConfig::setCurrentForTesting(QUrl());
    Settings::standard().clearOverrides();
}

void WebTabFixture::closeTabs()
{
    m_tabs.clear();
    QTest::qWait(50);
}

bool WebTabFixture::waitForLoad(const QUrl &url, int before)
{
    const QString finished = QStringLiteral("[web] didFinish ") + url.toString(QUrl::FullyEncoded);
    const bool loaded = waitUntil([&] { return m_log->count(finished) > before; });
    EXPECT_TRUE(loaded) << "never loaded: " << qPrintable(finished);
    return loaded;
}

web::WebTabView &WebTabFixture::openTab(const QUrl &url, bool isCorrection, const QUrl &expectedPage)
{
    const QUrl page = expectedPage.isEmpty() ? url : expectedPage;
    const int before = m_log->count(QStringLiteral("[web] didFinish ") + page.toString(QUrl::FullyEncoded));
    auto tab = std::make_unique<web::WebTabView>(url, isCorrection, *m_store, true);
    tab->resize(1000, 720);
    tab->show();
    m_tabs.push_back(std::move(tab));
    waitForLoad(page, before);
    return *m_tabs.back();
}

web::WebTabView &WebTabFixture::openPlainPage()
{
    const QUrl plain = http().baseUrl().resolved(QUrl(QStringLiteral("/pages/plain")));
    Settings::standard().setOverride(QStringLiteral("openURL"), plain.toString());
    return openTab(web::WebTabView::correctionURL(), true, plain);
}

void WebTabFixture::navigate(web::WebTabView &tab, const QUrl &url)
{
    const int before = m_log->count(QStringLiteral("[web] didFinish ") + url.toString(QUrl::FullyEncoded));
    tab.page()->load(url);
    waitForLoad(url, before);
}

bool WebTabFixture::waitForPage(web::WebTabView &tab, const QString &condition, int timeoutMs)
{
    return waitUntil([&] { return test::evaluate(tab.page(), QStringLiteral("!!(") + condition + u')').toBool(); }, timeoutMs);
}

} // namespace vorlik::test
