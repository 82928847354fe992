#include "devserver/PageRoutes.h"

#include <QFile>

#include <algorithm>

namespace vorlik::devserver {

namespace {

constexpr const char *html = "text/html; charset=utf-8";

} // namespace

void PageRoutes::install(HttpServer &server)
{
    const auto page = [&server](const QString &path, const QString &file, const char *type, int status = 200) {
        server.route(QStringLiteral("GET"), path, [file, type, status](Exchange &e) { serve(e, file, type, status); });
    };
    page(QStringLiteral("/correction"), QStringLiteral("correction.html"), html);
    page(QStringLiteral("/cinema"), QStringLiteral("cinema.html"), html);
    page(QStringLiteral("/pages/plain"), QStringLiteral("plain.html"), html);
    page(QStringLiteral("/pages/frame"), QStringLiteral("frame.html"), html);
    page(QStringLiteral("/pages/gone"), QStringLiteral("gone.html"), html, 404);
    page(QStringLiteral("/pages/vorlik-page.js"), QStringLiteral("vorlik-page.js"), "text/javascript; charset=utf-8");
    page(QStringLiteral("/pages/vorlik-page.css"), QStringLiteral("vorlik-page.css"), "text/css; charset=utf-8");
    page(QStringLiteral("/files/report.pdf"), QStringLiteral("report.pdf"), "application/pdf");
    server.route(QStringLiteral("GET"), QStringLiteral("/files/broken.pdf"), [](Exchange &e) { serveBroken(e); });
}

void PageRoutes::serveBroken(Exchange &exchange)
{
    QFile resource(QStringLiteral(":/devserver/pages/report.pdf"));
    resource.open(QIODevice::ReadOnly);
    const QByteArray bytes = resource.readAll();
    const size_t half = size_t(bytes.size() / 2);
    exchange.response.set_header("Cache-Control", "no-store");
    // The whole length is announced; after half of it the connection is dropped.
    exchange.response.set_content_provider(size_t(bytes.size()), "application/pdf",
                                           [bytes, half](size_t offset, size_t length, httplib::DataSink &sink) {
                                               if (offset >= half)
                                                   return false;
                                               return sink.write(bytes.constData() + offset, std::min(length, half - offset));
                                           });
}

void PageRoutes::serve(Exchange &exchange, const QString &file, const char *contentType, int status)
{
    QFile resource(QStringLiteral(":/devserver/pages/") + file);
    if (!resource.open(QIODevice::ReadOnly)) {
        exchange.error(500, QStringLiteral("page missing from the build: ") + file);
        return;
    }
    // Pages change with the build; a browser must never answer from its cache.
    exchange.response.set_header("Cache-Control", "no-store");
    exchange.raw(status, resource.readAll(), contentType);
}

} // namespace vorlik::devserver
