#pragma once
// The service's web pages for the Correction and Cinema tabs, with what they link to: the
// shared script and style, a sample PDF report, a page that is gone (404), a page without a
// drop target, a page made to be embedded in a frame and a download that breaks off. The files live in pages/ and are
// compiled in.
#include "devserver/HttpServer.h"

namespace vorlik::devserver {

class PageRoutes {
public:
    void install(HttpServer &server);

private:
    static void serve(Exchange &exchange, const QString &file, const char *contentType, int status = 200);
    // The sample report again, but the transfer breaks off halfway (a download that fails).
    static void serveBroken(Exchange &exchange);
};

} // namespace vorlik::devserver
