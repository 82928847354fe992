#pragma once
// Downloads the desktop program fetches outside the API: the ffmpeg build with its checksum
// file (the service's own copy and the fallback download host's, both served here), and the
// update description with the images it names, from the folder given by --updates.
// Files stream from disk. For tests, a file download takes the query parameters
// "no_length=1" (chunked, no Content-Length), "no_length=close" (the body ends when the
// connection closes) and "truncate=N" (the connection drops after N bytes).
#include "devserver/HttpServer.h"

#include <QString>

#include <mutex>
#include <optional>

namespace vorlik::devserver {

class ToolRoutes {
public:
    // Installs its routes on `server`. `dataPath` holds the ffmpeg archive once made;
    // `updatesPath` (may be empty) holds latest.json and the images.
    ToolRoutes(HttpServer &server, QString dataPath, QString updatesPath,
               QString ffmpegProgram = QStringLiteral("/usr/bin/ffmpeg"));

    static constexpr const char *fallbackBuild = "1787073674_9.0.1";

private:
    struct FFmpegArchive {
        QString zipPath;
        QString digest; // lower-case hex SHA-256 of the zip
    };

    void ffmpegZip(Exchange &exchange);
    void ffmpegSums(Exchange &exchange, const QString &fileName);
    void fallback(Exchange &exchange, bool checksum);
    void latest(Exchange &exchange);
    void image(Exchange &exchange);

    // The zip of the machine's ffmpeg as a top-level "ffmpeg", made on first use; none (with
    // an answer sent) when it cannot be made.
    std::optional<FFmpegArchive> archive(Exchange &exchange);
    static void sendFile(Exchange &exchange, const QString &path, const char *contentType);

    QString m_dataPath;
    QString m_updatesPath;
    QString m_ffmpegProgram;
    std::mutex m_archiveLock;
    std::optional<FFmpegArchive> m_archive; // guarded by m_archiveLock
};

} // namespace vorlik::devserver
