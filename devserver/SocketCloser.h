#pragma once
// Drops connections under httplib's feet: the library hands handlers no socket, so the
// socket is found by its addresses (or taken from the TLS session).
#include <httplib.h>

namespace vorlik::devserver {

class SocketCloser {
public:
    // Shuts the request's connection down in both directions: the client sees it close
    // without an answer.
    static void close(const httplib::Request &request);
    // Shuts down every accepted connection on this local port, so idle keep-alive
    // connections do not hold up a stop.
    static void closeAll(int localPort);
};

} // namespace vorlik::devserver
