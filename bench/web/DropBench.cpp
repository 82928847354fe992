// A 100 MiB file dropped on the Correction tab of the stand-in service, three times through the
// bridge (read, Base64, page script) and three times through the click path (a click on the
// page's chooser answered with the file), timed from the drop until the page holds the file.
// The anchor, measured in the same run: reading the file and encoding it as Base64 in-process.
// Prints the best time of each and the ratio of each path to the anchor.
#include "bench/support/BenchSupport.h"
#include "platform/Settings.h"
#include "service/SessionStore.h"
#include "tests/support/DevServer.h"
#include "web/Coordinator.h"
#include "web/VorlikWebPage.h"
#include "web/VorlikWebView.h"
#include "web/WebTabView.h"

#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QMimeData>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <limits>

using namespace vorlik;

namespace {

constexpr qint64 fileBytes = 100 * 1024 * 1024;
constexpr int rounds = 3;

bool waitUntil(const std::function<bool()> &condition, int timeoutMs)
{
    QEventLoop loop;
    QElapsedTimer clock;
    clock.start();
    bool held = condition();
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if ((held = condition()) || clock.elapsed() > timeoutMs)
            loop.quit();
    });
    if (!held) {
        poll.start(2);
        loop.exec();
    }
    return held;
}

QVariant evaluate(QWebEnginePage *page, const QString &script)
{
    bool done = false;
    QVariant result;
    page->runJavaScript(script, [&](const QVariant &value) {
        result = value;
        done = true;
    });
    waitUntil([&] { return done; }, 60000);
    return result;
}

double anchorMs(const QString &path)
{
    QElapsedTimer clock;
    clock.start();
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    const QByteArray base64 = file.readAll().toBase64();
    const double ms = clock.nsecsElapsed() / 1e6;
    if (base64.size() < fileBytes)
        std::fprintf(stderr, "short read\n");
    return ms;
}

// A native drop of the file on the view, over the page's chooser label; returns how long until
// the page listed one more file.
double dropMs(web::WebTabView &tab, const QString &path, QPointF point)
{
    const int before = evaluate(tab.page(), QStringLiteral("vorlikPage.files.length")).toInt();
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(path)});
    QWidget *input = tab.webView()->inputWidget();
    QElapsedTimer clock;
    clock.start();
    QDragEnterEvent enter(point.toPoint(), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(input, &enter);
    QDropEvent drop(point, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(input, &drop);
    const bool arrived = waitUntil([&] {
        return evaluate(tab.page(), QStringLiteral("vorlikPage.files.length")).toInt() > before;
    }, 120000);
    const double ms = clock.nsecsElapsed() / 1e6;
    return arrived ? ms : std::numeric_limits<double>::infinity();
}

double best(const std::vector<double> &times) { return *std::min_element(times.begin(), times.end()); }

} // namespace

int main(int argc, char **argv)
{
    // A private home: the web profile and the settings of this run stay in it.
    QTemporaryDir home(QDir::tempPath() + QStringLiteral("/vorlik-drop-bench-XXXXXX"));
    qputenv("HOME", home.path().toUtf8());
    qputenv("XDG_CONFIG_HOME", (home.path() + QStringLiteral("/config")).toUtf8());
    qputenv("XDG_DATA_HOME", (home.path() + QStringLiteral("/data")).toUtf8());
    qputenv("XDG_CACHE_HOME", (home.path() + QStringLiteral("/cache")).toUtf8());
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication application(argc, argv);

    int status = 0;
    {
        test::DevServer server;
        platform::Settings::standard().setOverride(QStringLiteral("baseURL"), server.baseUrl().toString());
        const QString path = home.filePath(QStringLiteral("take.wav"));
        bench::writeRandomFile(path, fileBytes, 11);

        service::SessionStore store;
        web::WebTabView tab(web::WebTabView::correctionURL(), true, store, true);
        tab.resize(1000, 720);
        tab.show();
        bool loaded = false;
        QObject::connect(tab.page(), &QWebEnginePage::loadFinished, [&](bool ok) { loaded = ok; });
        if (!waitUntil([&] { return loaded; }, 60000)) {
            std::fprintf(stderr, "the Correction page did not load\n");
            return 1;
        }
        const QVariantList label = evaluate(tab.page(), QStringLiteral(
            "(function () { var r = document.querySelector('label[for=\"files\"]').getBoundingClientRect();"
            " return [r.x + r.width / 2, r.y + r.height / 2]; })()")).toList();
        const QPointF point = tab.webView()->viewPoint(QPointF(label.value(0).toDouble(), label.value(1).toDouble()));

        std::vector<double> anchor, bridge, click;
        for (int round = 0; round < rounds; ++round) {
            anchor.push_back(anchorMs(path));
            tab.coordinator()->setBridgeLimit(web::Coordinator::bridgeByteLimit);
            bridge.push_back(dropMs(tab, path, point));
            // Below the file's size: the same drop takes the click path.
            tab.coordinator()->setBridgeLimit(0);
            click.push_back(dropMs(tab, path, point));
        }
        const double a = best(anchor), b = best(bridge), c = best(click);
        std::printf("drop of %lld MiB on the Correction page, best of %d\n", fileBytes >> 20, rounds);
        std::printf("  anchor: read + Base64 in-process    %8.1f ms\n", a);
        std::printf("  bridge path (drop -> page has it)   %8.1f ms   ratio %.2f\n", b, b / a);
        std::printf("  click path (drop -> page has it)    %8.1f ms   ratio %.2f\n", c, c / a);
        if (!std::isfinite(b) || !std::isfinite(c))
            status = 1;
    }
    test::DevServer::stopAll();
    return status;
}
