#include "devserver/SocketCloser.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <string>

namespace vorlik::devserver {

namespace {

int portOf(const sockaddr_storage &address)
{
    if (address.ss_family == AF_INET)
        return ntohs(reinterpret_cast<const sockaddr_in &>(address).sin_port);
    if (address.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<const sockaddr_in6 &>(address).sin6_port);
    return -1;
}

// Calls `visit(fd, local port, peer port)` for every connected TCP socket of this process.
void forEachConnectedSocket(const std::function<void(int, int, int)> &visit)
{
    DIR *folder = opendir("/proc/self/fd");
    if (!folder)
        return;
    const int own = dirfd(folder);
    while (dirent *entry = readdir(folder)) {
        char *end = nullptr;
        const long fd = std::strtol(entry->d_name, &end, 10);
        if (end == entry->d_name || *end != '\0' || fd == own)
            continue;
        struct stat info {};
        if (fstat(int(fd), &info) != 0 || !S_ISSOCK(info.st_mode))
            continue;
        sockaddr_storage local {}, peer {};
        socklen_t localLength = sizeof local, peerLength = sizeof peer;
        if (getsockname(int(fd), reinterpret_cast<sockaddr *>(&local), &localLength) != 0
            || getpeername(int(fd), reinterpret_cast<sockaddr *>(&peer), &peerLength) != 0)
            continue;
        visit(int(fd), portOf(local), portOf(peer));
    }
    closedir(folder);
}

} // namespace

void SocketCloser::close(const httplib::Request &request)
{
#ifdef CPPHTTPLIB_OPENSSL_SUPPORT
    if (request.ssl) {
        const int fd = SSL_get_fd(request.ssl);
        if (fd >= 0)
            ::shutdown(fd, SHUT_RDWR);
        return;
    }
#endif
    forEachConnectedSocket([&](int fd, int localPort, int peerPort) {
        if (localPort == request.local_port && peerPort == request.remote_port)
            ::shutdown(fd, SHUT_RDWR);
    });
}

void SocketCloser::closeAll(int localPort)
{
    forEachConnectedSocket([&](int fd, int local, int) {
        if (local == localPort)
            ::shutdown(fd, SHUT_RDWR);
    });
}

} // namespace vorlik::devserver
